# Telemetry and device-information decoders, the live grids, the indicators
# and the clock texts. Everything reaches the window through App.ui.
add_library(bms_display STATIC
  ${CMAKE_CURRENT_LIST_DIR}/BlockFreshness.cpp ${CMAKE_CURRENT_LIST_DIR}/BlockFreshness.h
  ${CMAKE_CURRENT_LIST_DIR}/Clocks.cpp ${CMAKE_CURRENT_LIST_DIR}/Clocks.h
  ${CMAKE_CURRENT_LIST_DIR}/DeviceInfo.cpp
  ${CMAKE_CURRENT_LIST_DIR}/Grids.h
  ${CMAKE_CURRENT_LIST_DIR}/GridValues.cpp ${CMAKE_CURRENT_LIST_DIR}/GridValues.h
  ${CMAKE_CURRENT_LIST_DIR}/Indicators.cpp ${CMAKE_CURRENT_LIST_DIR}/Indicators.h
  ${CMAKE_CURRENT_LIST_DIR}/PackTable.cpp ${CMAKE_CURRENT_LIST_DIR}/PackTable.h
  ${CMAKE_CURRENT_LIST_DIR}/ReadAnswers.cpp ${CMAKE_CURRENT_LIST_DIR}/ReadAnswers.h
  ${CMAKE_CURRENT_LIST_DIR}/ResponseData.h
  ${CMAKE_CURRENT_LIST_DIR}/StateTexts.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TelemetryBlocks.h
  ${CMAKE_CURRENT_LIST_DIR}/TelemetryDecode.cpp
  ${CMAKE_CURRENT_LIST_DIR}/TelemetryView.cpp
)
target_include_directories(bms_display PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(bms_display PUBLIC bms_protocol bms_options)
