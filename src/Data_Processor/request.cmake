# Command table and request builder: every request the tool sends, framed from
# a command number, plus the upgrade packet writer.
add_library(bms_request STATIC
  ${CMAKE_CURRENT_LIST_DIR}/RequestBuilder.cpp ${CMAKE_CURRENT_LIST_DIR}/RequestBuilder.h
  ${CMAKE_CURRENT_LIST_DIR}/CommandFrame.cpp ${CMAKE_CURRENT_LIST_DIR}/CommandFrame.h
  ${CMAKE_CURRENT_LIST_DIR}/CommandTable.cpp ${CMAKE_CURRENT_LIST_DIR}/CommandTable.h
  ${CMAKE_CURRENT_LIST_DIR}/CommandRtc.cpp
)
# The periodic reads of blocks 4..6 take their register counts from the pack
# table, which the display library holds.
target_include_directories(bms_request PUBLIC ${CMAKE_CURRENT_LIST_DIR}
  PRIVATE ${PROJECT_SOURCE_DIR}/src/Data_Display)
# Every frame written goes through the frame record (src/USBCOM).
target_link_libraries(bms_request PUBLIC bms_protocol bms_frames bms_options bms_display)
# The fuzz build instruments this library so the fuzzer sees its branches.
if(BMS_BUILD_FUZZ)
  target_compile_options(bms_request PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
endif()
