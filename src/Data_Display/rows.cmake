# Row layouts of the workbooks: pure functions from the pack table to cells.
add_library(bms_rows STATIC
  ${CMAKE_CURRENT_LIST_DIR}/LogRows.cpp ${CMAKE_CURRENT_LIST_DIR}/LogRows.h
)
target_include_directories(bms_rows PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(bms_rows PUBLIC bms_workbook bms_display Qt6::Core bms_options)
