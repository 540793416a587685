# Wine tests: real programs under Wine with Xvfb, COM1 on a fresh pty pair per test, the
# device simulator on the other end. They share one prefix, so they run one at a time.
find_package(Python3 REQUIRED COMPONENTS Interpreter)

function(mvr_wine_test name script)
  add_test(NAME wine.${name}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/${script}
                   --build ${MVR_BUILD_ROOT} --win32 ${MVR_WIN32_DIR} --host ${CMAKE_BINARY_DIR} ${ARGN})
  set_tests_properties(wine.${name} PROPERTIES
    FIXTURES_REQUIRED wineprefix RESOURCE_LOCK wineprefix TIMEOUT 300)
endfunction()

get_filename_component(MVR_BUILD_ROOT ${MVR_WIN32_DIR} DIRECTORY)

add_test(NAME wine.prefix
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/winetest.py --init
                 --build ${MVR_BUILD_ROOT} --win32 ${MVR_WIN32_DIR} --host ${CMAKE_BINARY_DIR})
set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wineprefix RESOURCE_LOCK wineprefix TIMEOUT 600)

mvr_wine_test(serial serial_test.py)
mvr_wine_test(traffic traffic_test.py)
mvr_wine_test(port_return port_return_test.py)
set_tests_properties(wine.port_return PROPERTIES TIMEOUT 480)  # a minute with the port away
include(${CMAKE_CURRENT_LIST_DIR}/automation_tests.cmake OPTIONAL)
include(${CMAKE_CURRENT_LIST_DIR}/ui_tests.cmake OPTIONAL)
include(${CMAKE_CURRENT_LIST_DIR}/installer_tests.cmake OPTIONAL)
