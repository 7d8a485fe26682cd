# Every test gets a DDS domain of its own and stays on loopback, so tests that run in
# parallel never see each other's traffic and nothing leaves the machine.
if(rclcpp_FOUND)
  # On a robot (colcon test) the tests run beside the robot's own nodes: their domains must be
  # ones the robot does not use, or a test's commands would reach the arm.
  set(TAVRIN_TEST_FIRST_DOMAIN_ID 202 CACHE STRING
    "First of the DDS domains the tests use, one per test; none may be the robot's own")
  set(TAVRIN_FIRST_DOMAIN_ID ${TAVRIN_TEST_FIRST_DOMAIN_ID})
  set(TAVRIN_DOMAIN_COUNT 18)
  # ament's googletest, built from its sources, and its runner, which writes the results that
  # colcon test-result reads.
  find_package(ament_cmake_gtest REQUIRED)
  ament_find_gtest()
  if(NOT TARGET GTest::gtest)
    add_library(GTest::gtest ALIAS gtest)
    add_library(GTest::gtest_main ALIAS gtest_main)
  endif()
else()
  include(CTest)
  if(BUILD_TESTING)
    find_package(GTest REQUIRED)
  endif()
  # Each build tree has a range of its own, so the plain and the sanitizer suites can run at once.
  # All of them stay below the demo's default domain (220) and the benchmarks' (228 and up).
  if(TAVRIN_FUZZ)
    # The unused tail of the plain suite's range: the fuzz tree has three tests.
    set(TAVRIN_FIRST_DOMAIN_ID 58)
  elseif(TAVRIN_SANITIZE MATCHES "thread")
    set(TAVRIN_FIRST_DOMAIN_ID 121)
  elseif(TAVRIN_SANITIZE)
    set(TAVRIN_FIRST_DOMAIN_ID 61)
  else()
    set(TAVRIN_FIRST_DOMAIN_ID 1)
  endif()
  set(TAVRIN_DOMAIN_COUNT 60)
endif()
math(EXPR TAVRIN_LAST_DOMAIN_ID "${TAVRIN_FIRST_DOMAIN_ID} + ${TAVRIN_DOMAIN_COUNT} - 1")
set_property(GLOBAL PROPERTY TAVRIN_NEXT_DOMAIN_ID ${TAVRIN_FIRST_DOMAIN_ID})

# tavrin_add_test(NAME COMMAND cmd... [LABELS l...] [ENVIRONMENT k=v...] [TIMEOUT s] [GTEST])
# GTEST: the command is a googletest program, whose results ament's runner records per case.
function(tavrin_add_test name)
  cmake_parse_arguments(ARG "GTEST" "TIMEOUT" "COMMAND;LABELS;ENVIRONMENT" ${ARGN})
  get_property(domain_id GLOBAL PROPERTY TAVRIN_NEXT_DOMAIN_ID)
  if(domain_id GREATER TAVRIN_LAST_DOMAIN_ID)
    message(FATAL_ERROR "no DDS domain id left for test ${name}")
  endif()
  math(EXPR next_id "${domain_id} + 1")
  set_property(GLOBAL PROPERTY TAVRIN_NEXT_DOMAIN_ID ${next_id})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 300)
  endif()
  set(environment ROS_LOCALHOST_ONLY=1 ROS_DOMAIN_ID=${domain_id} ${ARG_ENVIRONMENT})
  if(rclcpp_FOUND)
    set(result_file "${AMENT_TEST_RESULTS_DIR}/${PROJECT_NAME}/${name}.xml")
    if(ARG_GTEST)
      list(APPEND ARG_COMMAND "--gtest_output=xml:${result_file}")
      set(result_option RESULT_FILE "${result_file}")
    else()
      set(result_option GENERATE_RESULT_FOR_RETURN_CODE_ZERO)
    endif()
    ament_add_test(${name} COMMAND ${ARG_COMMAND} ${result_option}
      ENV ${environment} TIMEOUT ${ARG_TIMEOUT})
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  else()
    add_test(NAME ${name} COMMAND ${ARG_COMMAND})
    set_tests_properties(${name} PROPERTIES
      ENVIRONMENT "${environment}"
      LABELS "${ARG_LABELS}"
      TIMEOUT ${ARG_TIMEOUT})
  endif()
  # A shell's CYCLONEDDS_URI (an interface, peers) would take the tests off loopback, or make DDS
  # refuse to pick loopback twice.
  set_tests_properties(${name} PROPERTIES ENVIRONMENT_MODIFICATION "CYCLONEDDS_URI=unset:")
endfunction()

# tavrin_add_gtest(NAME SOURCES src... [LIBRARIES lib...] [LABELS l...] [ENVIRONMENT k=v...]
#                  [OWN_MAIN])  OWN_MAIN: a library in LIBRARIES provides main().
function(tavrin_add_gtest name)
  cmake_parse_arguments(ARG "OWN_MAIN" "TIMEOUT" "SOURCES;LIBRARIES;LABELS;ENVIRONMENT" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  if(NOT ARG_OWN_MAIN)
    list(APPEND ARG_LIBRARIES GTest::gtest_main)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_LIBRARIES} GTest::gtest Threads::Threads)
  target_compile_options(${name} PRIVATE ${TAVRIN_WARNINGS})
  # ThreadSanitizer has something to find only in threaded tests; the slow ones drive paths that
  # the other tests run under AddressSanitizer already. Neither tree builds what it does not run.
  if((TAVRIN_SANITIZE MATCHES "thread" AND NOT "thread" IN_LIST ARG_LABELS) OR
     (TAVRIN_SANITIZE MATCHES "address" AND "slow" IN_LIST ARG_LABELS))
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL TRUE)
    return()
  endif()
  tavrin_add_test(${name} COMMAND $<TARGET_FILE:${name}> GTEST LABELS ${ARG_LABELS}
    ENVIRONMENT ${ARG_ENVIRONMENT} TIMEOUT ${ARG_TIMEOUT})
  if("slow" IN_LIST ARG_LABELS)
    # Started first, even without the timings of an earlier run: the rest fits in beside them.
    set_tests_properties(${name} PROPERTIES COST 1000)
  endif()
endfunction()
