# Everywhere without ROS 2: the node links the bundled client layer. Its sources form a library
# of their own, so that a test can run the node in-process, as a component container does.
add_library(tavrin_arm_teleop_core STATIC ${TAVRIN_NODE_SOURCES})
target_include_directories(tavrin_arm_teleop_core PUBLIC ${CMAKE_CURRENT_SOURCE_DIR}/include
  PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/src)
target_link_libraries(tavrin_arm_teleop_core PUBLIC ros2_layer PRIVATE tavrin_logging
  Threads::Threads)
target_compile_options(tavrin_arm_teleop_core PRIVATE ${TAVRIN_WARNINGS})

add_executable(tavrin_arm_teleop_node src/tavrin_arm_teleop/main.cpp)
target_link_libraries(tavrin_arm_teleop_node PRIVATE tavrin_arm_teleop_core)
target_compile_options(tavrin_arm_teleop_node PRIVATE ${TAVRIN_WARNINGS})

# The operator station's install (`make deb`): the programs, the keystore tool and the demo as
# commands, the presets and the example parameter file as data, and the interface libraries the
# layer was built with (ros2_layer/interfaces) in a folder of the package's own.
include(GNUInstallDirs)
set(TAVRIN_TOOLS_DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS tavrin_arm_teleop_node DESTINATION ${CMAKE_INSTALL_BINDIR})
install(PROGRAMS tools/make_keystore.sh DESTINATION ${CMAKE_INSTALL_BINDIR}
  RENAME tavrin_make_keystore)
install(PROGRAMS tools/demo.sh DESTINATION ${CMAKE_INSTALL_BINDIR} RENAME tavrin_demo)
install(DIRECTORY config/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tavrin-arm-teleop)
set(TAVRIN_INTERFACE_LIBRARIES "" CACHE PATH
  "Folder of the interface libraries to install beside the programs (the package's build)")
if(TAVRIN_INTERFACE_LIBRARIES)
  install(DIRECTORY ${TAVRIN_INTERFACE_LIBRARIES}/
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/tavrin-arm-teleop FILES_MATCHING PATTERN "*.so")
endif()

if(BUILD_TESTING AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/test/CMakeLists.txt)
  add_subdirectory(test)
endif()
if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/tools/CMakeLists.txt)
  add_subdirectory(tools)
endif()
# Off for the demo's quick first build; `make test` turns them on so that they keep building.
option(TAVRIN_BENCHMARKS "Build the benchmarks of bench/" OFF)
if(TAVRIN_BENCHMARKS AND EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/bench/CMakeLists.txt)
  add_subdirectory(bench)
endif()
