# Data-log cost per row at row 1,000 and 100,000 and the time to write the
# .xlsx of 100,000 rows of 67 columns. Run: bench_workbook [DISK_FOLDER]
if(TARGET bms_testsupport)
  add_executable(bench_workbook ${CMAKE_CURRENT_LIST_DIR}/workbook_rows.cpp)
  target_link_libraries(bench_workbook PRIVATE bms_workbooks bms_testsupport bms_options)
endif()
