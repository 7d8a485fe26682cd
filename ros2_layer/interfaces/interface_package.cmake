# Builds one of the standard ROS 2 interface packages that Debian does not ship, with
# Debian's own rosidl generators (C and C++ message classes plus introspection type support).
macro(layer_interface_package)
  cmake_parse_arguments(_PKG "" "" "DEPENDENCIES" ${ARGN})
  find_package(ament_cmake REQUIRED)
  find_package(rosidl_cmake REQUIRED)
  foreach(_generator rosidl_generator_c rosidl_generator_cpp
      rosidl_typesupport_introspection_c rosidl_typesupport_introspection_cpp)
    find_package(${_generator} REQUIRED)
  endforeach()
  foreach(_dep ${_PKG_DEPENDENCIES})
    find_package(${_dep} REQUIRED)
  endforeach()
  file(GLOB _files CONFIGURE_DEPENDS RELATIVE "${CMAKE_CURRENT_SOURCE_DIR}"
    "${CMAKE_CURRENT_SOURCE_DIR}/msg/*.msg" "${CMAKE_CURRENT_SOURCE_DIR}/srv/*.srv")
  list(SORT _files)
  rosidl_generate_interfaces(${PROJECT_NAME} ${_files}
    DEPENDENCIES ${_PKG_DEPENDENCIES} SKIP_GROUP_MEMBERSHIP_CHECK)
  ament_export_dependencies(rosidl_runtime_cpp)
  ament_package()
endmacro()
