# The command line: process start to the first request byte, round trip of
# its port, and an upgrade run against the virtual pack's line timing.
add_executable(bench_cli_start ${CMAKE_CURRENT_LIST_DIR}/cli_start.cpp)
target_compile_definitions(bench_cli_start PRIVATE BMS_CLI="$<TARGET_FILE:quorlex-bms-cli>")
target_link_libraries(bench_cli_start PRIVATE bms_options)
add_dependencies(bench_cli_start quorlex-bms-cli)
add_executable(bench_cli_roundtrip ${CMAKE_CURRENT_LIST_DIR}/cli_roundtrip.cpp)
target_link_libraries(bench_cli_roundtrip PRIVATE bms_cli bms_sim bms_options)
add_executable(bench_cli_upgrade ${CMAKE_CURRENT_LIST_DIR}/cli_upgrade.cpp)
target_compile_definitions(bench_cli_upgrade PRIVATE BMS_CLI="$<TARGET_FILE:quorlex-bms-cli>")
target_link_libraries(bench_cli_upgrade PRIVATE bms_upgrade bms_sim bms_testsupport bms_options)
add_dependencies(bench_cli_upgrade quorlex-bms-cli)
# The round trip's yardstick: a plain libmodbus master (libmodbus-dev).
pkg_check_modules(LIBMODBUS REQUIRED IMPORTED_TARGET libmodbus)
target_link_libraries(bench_cli_roundtrip PRIVATE PkgConfig::LIBMODBUS)
