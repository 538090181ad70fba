# Round-trip latency of the serial port component over a pseudo-terminal,
# up to the dispatch of the answer by the receive assembly.
add_executable(bench_serial_roundtrip ${CMAKE_CURRENT_LIST_DIR}/serial_roundtrip.cpp)
target_link_libraries(bench_serial_roundtrip PRIVATE bms_serial bms_link bms_testsupport bms_options)
target_compile_definitions(bench_serial_roundtrip PRIVATE BMS_BENCH_WITH_LINK=1)
