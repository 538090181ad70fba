# Record transfer of an upgrade run against the virtual pack at 115200 baud,
# for both targets, compared with the time its bytes alone need on the wire.
add_executable(bench_upgrade_transfer ${CMAKE_CURRENT_LIST_DIR}/upgrade_transfer.cpp)
target_link_libraries(bench_upgrade_transfer PRIVATE bms_upgrade bms_link bms_serial bms_sim bms_testsupport bms_options)
