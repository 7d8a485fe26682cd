# The child process and the joystick stand-in that the tools, the tests and the benchmarks share.
# They need no ROS 2, so the tests can use them on a robot's own ROS 2 install too.
add_library(tavrin_rigs STATIC
  ${CMAKE_CURRENT_LIST_DIR}/child_process.cpp
  ${CMAKE_CURRENT_LIST_DIR}/joystick_stand_in.cpp)
target_include_directories(tavrin_rigs PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(tavrin_rigs PUBLIC Threads::Threads)
target_compile_options(tavrin_rigs PRIVATE ${TAVRIN_WARNINGS})
