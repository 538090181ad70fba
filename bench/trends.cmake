# Trends: a day of samples in the store, CPU per appended sample with the
# charts repainted ("All" and "10 min"), opening a data log of 100,000 rows
# (bench_trends). Built with Qt Charts as well when it is installed, to
# compare the two plotting libraries on the same data.
if(BMS_BUILD_GUI)
  add_executable(bench_trends ${CMAKE_CURRENT_LIST_DIR}/trends_charts.cpp)
  target_link_libraries(bench_trends PRIVATE bms_trends_view bms_options)
  find_package(Qt6 QUIET COMPONENTS Charts)
  if(TARGET Qt6::Charts)
    target_sources(bench_trends PRIVATE ${CMAKE_CURRENT_LIST_DIR}/trends_qtcharts.cpp)
    target_link_libraries(bench_trends PRIVATE Qt6::Charts)
    target_compile_definitions(bench_trends PRIVATE BENCH_WITH_QTCHARTS)
  endif()
endif()

# Crafted files through "Open log…" and workbook-recover, each in its own
# process: time and peak memory (bench_hostile_files [seconds] [folder]).
if(TARGET bms_trends AND TARGET workbook-recover)
  pkg_check_modules(BENCH_LIBZIP REQUIRED IMPORTED_TARGET libzip)
  add_executable(bench_hostile_files ${CMAKE_CURRENT_LIST_DIR}/hostile_files.cpp)
  target_link_libraries(bench_hostile_files PRIVATE bms_trends bms_options PkgConfig::BENCH_LIBZIP)
  target_compile_definitions(bench_hostile_files PRIVATE WORKBOOK_RECOVER="$<TARGET_FILE:workbook-recover>")
  add_dependencies(bench_hostile_files workbook-recover)
endif()
