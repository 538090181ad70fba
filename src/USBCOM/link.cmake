# Receive assembly and response dispatch: received chunks become frames in
# either framing, are CRC-checked and handed to the consumer of their code.
add_library(bms_link STATIC
  ${CMAKE_CURRENT_LIST_DIR}/Receive.cpp ${CMAKE_CURRENT_LIST_DIR}/Receive.h
  ${CMAKE_CURRENT_LIST_DIR}/Dispatch.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DispatchWrites.cpp
)
target_include_directories(bms_link PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(bms_link PUBLIC bms_request bms_frames bms_protocol bms_options)
# The fuzz build instruments this library so the fuzzer sees its branches.
if(BMS_BUILD_FUZZ)
  target_compile_options(bms_link PRIVATE -fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
endif()
