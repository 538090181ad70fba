# Data-log cost per row at row 1,000 and 100,000 and the time to write the
# .xlsx of 100,000 rows of 67 columns (bench_workbook [DISK_FOLDER]); the same
# per-row cost with the live sheet window open
# (QT_QPA_PLATFORM=offscreen bench_workbook_view).
add_executable(bench_workbook ${CMAKE_CURRENT_LIST_DIR}/workbook_rows.cpp)
target_link_libraries(bench_workbook PRIVATE bms_workbooks bms_testsupport bms_options)
if(BMS_BUILD_GUI)
  add_executable(bench_workbook_view ${CMAKE_CURRENT_LIST_DIR}/workbook_view.cpp)
  target_link_libraries(bench_workbook_view PRIVATE bms_workbook_view bms_workbooks bms_testsupport bms_options)
endif()
