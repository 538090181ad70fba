# Labels and unit reports: a label and a report drawn into their PDFs, a job
# handed to a throw-away CUPS server; the window's longest stall while four
# fixtures end their runs and print at once.
if(TARGET bms_labels AND TARGET bms_testsupport)
  add_executable(bench_labels_print ${CMAKE_CURRENT_LIST_DIR}/labels_print.cpp)
  target_link_libraries(bench_labels_print PRIVATE bms_labels bms_testsupport bms_options)
  target_compile_definitions(bench_labels_print PRIVATE LABELS_DIR="${PROJECT_SOURCE_DIR}/docs/labels"
    CUPS_TEST_SERVER="${PROJECT_SOURCE_DIR}/scripts/cups-test-server")
endif()
if(BMS_BUILD_GUI AND TARGET bms_labels)
  add_executable(bench_window_prints ${CMAKE_CURRENT_LIST_DIR}/window_prints.cpp)
  target_link_libraries(bench_window_prints PRIVATE bms_window bms_sim bms_testsupport bms_options)
  set_target_properties(bench_window_prints PROPERTIES AUTOUIC OFF)
  target_compile_definitions(bench_window_prints PRIVATE BMS_CLI="$<TARGET_FILE:quorlex-bms-cli>"
    STATION_RECIPES="${PROJECT_SOURCE_DIR}/docs/recipes" LABELS_DIR="${PROJECT_SOURCE_DIR}/docs/labels"
    CUPS_TEST_SERVER="${PROJECT_SOURCE_DIR}/scripts/cups-test-server")
  add_dependencies(bench_window_prints quorlex-bms-cli)
endif()
