# The charts of the Trends tab over QCustomPlot.
if(NOT BMS_BUILD_GUI)
  return()
endif()
find_package(Qt6 REQUIRED COMPONENTS PrintSupport)
find_package(QCustomPlotQt6 REQUIRED)
add_library(bms_trends_view STATIC
  ${CMAKE_CURRENT_LIST_DIR}/CellBars.cpp ${CMAKE_CURRENT_LIST_DIR}/CellBars.h
  ${CMAKE_CURRENT_LIST_DIR}/QCustomPlotInclude.h
  ${CMAKE_CURRENT_LIST_DIR}/TrendCharts.cpp ${CMAKE_CURRENT_LIST_DIR}/TrendCharts.h
  ${CMAKE_CURRENT_LIST_DIR}/TrendsTab.cpp ${CMAKE_CURRENT_LIST_DIR}/TrendsTab.h
)
set_target_properties(bms_trends_view PROPERTIES AUTOMOC ON)
target_include_directories(bms_trends_view PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(bms_trends_view PUBLIC bms_trends QCustomPlotQt6::QCustomPlotQt6 Qt6::Widgets bms_options)
