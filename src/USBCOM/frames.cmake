# The frame record: every frame sent and received, for the Traffic window and
# the command line's trace.
add_library(bms_frames STATIC
  ${CMAKE_CURRENT_LIST_DIR}/FrameRecord.cpp ${CMAKE_CURRENT_LIST_DIR}/FrameRecord.h
  ${CMAKE_CURRENT_LIST_DIR}/FrameText.cpp
)
target_include_directories(bms_frames PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(bms_frames PUBLIC bms_protocol bms_options)
