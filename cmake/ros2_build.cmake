# On a ROS 2 Humble machine (colcon build): the real rclcpp, rclcpp_action and messages.
find_package(ament_cmake REQUIRED)
find_package(rclcpp_action REQUIRED)
find_package(sensor_msgs REQUIRED)
find_package(geometry_msgs REQUIRED)
find_package(std_msgs REQUIRED)
find_package(std_srvs REQUIRED)
find_package(tavrin_protocol REQUIRED)

# The node is a library, so that a component container can load it too; the program is its
# main() alone.
add_library(tavrin_arm_teleop_component SHARED ${TAVRIN_NODE_SOURCES})
target_include_directories(tavrin_arm_teleop_component PUBLIC
  $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(tavrin_arm_teleop_component tavrin_logging Threads::Threads)
target_compile_options(tavrin_arm_teleop_component PRIVATE ${TAVRIN_WARNINGS})
ament_target_dependencies(tavrin_arm_teleop_component
  rclcpp rclcpp_action sensor_msgs geometry_msgs std_msgs std_srvs tavrin_protocol)

# Where rclcpp_components exists the node is also registered as a component
# (ros2 component load ... tavrin_arm_teleop::TeleopNode).
find_package(rclcpp_components QUIET)
if(rclcpp_components_FOUND)
  target_sources(tavrin_arm_teleop_component PRIVATE src/tavrin_arm_teleop/register_component.cpp)
  ament_target_dependencies(tavrin_arm_teleop_component rclcpp_components)
  rclcpp_components_register_nodes(tavrin_arm_teleop_component "tavrin_arm_teleop::TeleopNode")
endif()

add_executable(tavrin_arm_teleop_node src/tavrin_arm_teleop/main.cpp)
target_link_libraries(tavrin_arm_teleop_node tavrin_arm_teleop_component)
target_compile_options(tavrin_arm_teleop_node PRIVATE ${TAVRIN_WARNINGS})

install(TARGETS tavrin_arm_teleop_component
  ARCHIVE DESTINATION lib LIBRARY DESTINATION lib RUNTIME DESTINATION bin)
install(TARGETS tavrin_arm_teleop_node DESTINATION lib/${PROJECT_NAME})

# The operator's tools and the demo beside the node, for `ros2 run tavrin_arm_teleop ...`.
set(TAVRIN_TOOLS_DESTINATION lib/${PROJECT_NAME})
add_subdirectory(tools)
install(PROGRAMS tools/demo.sh DESTINATION lib/${PROJECT_NAME} RENAME tavrin_demo)
install(PROGRAMS tools/make_keystore.sh DESTINATION lib/${PROJECT_NAME}
  RENAME tavrin_make_keystore)

foreach(dir launch config)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir})
    install(DIRECTORY ${dir} DESTINATION share/${PROJECT_NAME}
      PATTERN "__pycache__" EXCLUDE PATTERN "*.pyc" EXCLUDE)
  endif()
endforeach()

# colcon test: the node's end-to-end tests, from the same sources as in the bundled build, run
# against the real stack.
if(BUILD_TESTING AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/test/CMakeLists.txt)
  include(cmake/tavrin_testing.cmake)
  add_subdirectory(test)
endif()

ament_package()
