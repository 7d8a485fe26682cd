# On a ROS 2 Humble machine (colcon build): the real rclcpp, rclcpp_action and messages.
find_package(ament_cmake REQUIRED)
find_package(rclcpp_action REQUIRED)
find_package(sensor_msgs REQUIRED)
find_package(geometry_msgs REQUIRED)
find_package(std_msgs REQUIRED)
find_package(std_srvs REQUIRED)
find_package(tavrin_protocol REQUIRED)

add_executable(tavrin_arm_teleop_node src/tavrin_arm_teleop/teleop_node.cpp)
target_include_directories(tavrin_arm_teleop_node PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/include)
target_link_libraries(tavrin_arm_teleop_node tavrin_logging Threads::Threads)
target_compile_options(tavrin_arm_teleop_node PRIVATE ${TAVRIN_WARNINGS})
ament_target_dependencies(tavrin_arm_teleop_node
  rclcpp rclcpp_action sensor_msgs geometry_msgs std_msgs std_srvs tavrin_protocol)

install(TARGETS tavrin_arm_teleop_node DESTINATION lib/${PROJECT_NAME})
foreach(dir launch config)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir})
    install(DIRECTORY ${dir} DESTINATION share/${PROJECT_NAME})
  endif()
endforeach()

ament_package()
