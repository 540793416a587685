# The automation object's rules and the start switches, against the engine with the fake port.
add_executable(automation_tests
  ${CMAKE_CURRENT_LIST_DIR}/automation_object_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/automation_startmode_test.cpp)
target_link_libraries(automation_tests PRIVATE mvr_automation_core mvr_host_fakes GTest::gtest_main)
add_test(NAME host.automation COMMAND automation_tests)
