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

# Where rclcpp_components exists the node is also a component, so that a component container
# can load it (ros2 component load ... tavrin_arm_teleop::TeleopNode). The class already has
# the constructor the class loader needs, TeleopNode(const rclcpp::NodeOptions &); only the
# registration is added here, generated so that the node's source stays as it is.
find_package(rclcpp_components QUIET)
if(rclcpp_components_FOUND)
  set(component_dir ${CMAKE_CURRENT_BINARY_DIR}/component)
  file(CONFIGURE OUTPUT ${component_dir}/register_teleop_node.cpp CONTENT
"#include \"rclcpp_components/register_node_macro.hpp\"
#include \"tavrin_arm_teleop/teleop_node.hpp\"

RCLCPP_COMPONENTS_REGISTER_NODE(tavrin_arm_teleop::TeleopNode)
")
  # The node's source also holds the executable's main(); the library keeps it to itself.
  file(CONFIGURE OUTPUT ${component_dir}/exports.map CONTENT "{ global: *; local: main; };\n")

  add_library(tavrin_arm_teleop_component SHARED
    src/tavrin_arm_teleop/teleop_node.cpp ${component_dir}/register_teleop_node.cpp)
  target_include_directories(tavrin_arm_teleop_component PUBLIC
    $<BUILD_INTERFACE:${CMAKE_CURRENT_SOURCE_DIR}/include>)
  target_link_libraries(tavrin_arm_teleop_component tavrin_logging Threads::Threads)
  target_link_options(tavrin_arm_teleop_component PRIVATE
    -Wl,--version-script=${component_dir}/exports.map)
  target_compile_options(tavrin_arm_teleop_component PRIVATE ${TAVRIN_WARNINGS})
  ament_target_dependencies(tavrin_arm_teleop_component
    rclcpp rclcpp_components rclcpp_action sensor_msgs geometry_msgs std_msgs std_srvs
    tavrin_protocol)
  rclcpp_components_register_nodes(tavrin_arm_teleop_component "tavrin_arm_teleop::TeleopNode")
  install(TARGETS tavrin_arm_teleop_component
    ARCHIVE DESTINATION lib LIBRARY DESTINATION lib RUNTIME DESTINATION bin)
endif()
foreach(dir launch config)
  if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/${dir})
    install(DIRECTORY ${dir} DESTINATION share/${PROJECT_NAME})
  endif()
endforeach()

ament_package()
