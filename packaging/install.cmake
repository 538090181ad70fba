# What `cmake --install` puts under the prefix, and the Debian package that
# `cpack -G DEB` makes of it (in the build folder: cpack --config CPackConfig.cmake).
#
#   bin/                      the programs below that this build makes
#   share/applications/       quorlex-bms.desktop
#   share/icons/hicolor/...   quorlex-bms.svg
#   share/doc/quorlex-bms/    README.md, virtual-pack.md
include(GNUInstallDirs)

# Programs installed to bin/. A program added to the project is installed
# by adding its target here; targets this build does not make are skipped.
set(BMS_INSTALLED_PROGRAMS quorlex-bms quorlex-bms-cli virtual-pack workbook-recover)
foreach(program IN LISTS BMS_INSTALLED_PROGRAMS)
  if(TARGET ${program})
    # Everything of the project is linked in statically: no run path.
    set_target_properties(${program} PROPERTIES INSTALL_RPATH "")
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()

install(FILES ${CMAKE_CURRENT_LIST_DIR}/quorlex-bms.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_CURRENT_LIST_DIR}/quorlex-bms.svg DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/virtual-pack.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/quorlex-bms)

# The Debian package. Library dependencies are worked out by dpkg-shlibdeps
# from the programs; the Qt platform plugins and the SQLite and PostgreSQL
# drivers of Qt SQL (loaded at run time, so not seen by it; a station with a
# line database cannot work without the latter) are declared by hand; a font
# with the Chinese captions is recommended.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quorlex-bms)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quorlex")
set(CPACK_PACKAGE_CONTACT "Quorlex BMS service tool <bms-tool@quorlex.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Service tool for the battery management system of lithium battery packs")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION_SUMMARY}
 Talks to a pack's BMS over a USB-to-serial box (Modbus RTU): live telemetry
 of cells, temperatures, current, capacities and alarm words; identity,
 settings and calibrations; firmware upgrades from Intel-HEX images; data
 logs written to .xlsx workbooks. Includes virtual-pack, a simulated BMS on a
 pseudo-terminal for trying the tool without hardware, and workbook-recover,
 which turns the journal of an interrupted data log back into a workbook.
 .
 Serial ports belong to the group dialout: join it with
 sudo usermod -aG dialout $USER and log in again.")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, libqt6sql6-sqlite, libqt6sql6-psql")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-dejavu-core, fonts-wqy-microhei")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
include(CPack)
