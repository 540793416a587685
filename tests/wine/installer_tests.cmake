# The release package and its installer, in a prefix of their own (not the shared one); the
# lock keeps them off the COM1 pty and the desktop while other Wine tests run.
add_test(NAME wine.installer
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_installer.py
                 --build ${MVR_BUILD_ROOT} --win32 ${MVR_WIN32_DIR} --host ${CMAKE_BINARY_DIR})
set_tests_properties(wine.installer PROPERTIES RESOURCE_LOCK wineprefix TIMEOUT 600)

# The 32-bit program for 64-bit clients, installed into a 64-bit prefix (WoW64) of its own,
# where this machine runs 32-bit code; elsewhere the test guest runs it (win32.wow64).
execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-arch.sh
                OUTPUT_VARIABLE mvr_wow64_arch OUTPUT_STRIP_TRAILING_WHITESPACE)
if(mvr_wow64_arch STREQUAL "win32")
  add_test(NAME wine.wow64
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/test_wow64.py
                   --build ${MVR_BUILD_ROOT} --win32 ${MVR_WIN32_DIR} --win64 ${MVR_BUILD_ROOT}/win64
                   --host ${CMAKE_BINARY_DIR})
  set_tests_properties(wine.wow64 PROPERTIES RESOURCE_LOCK wineprefix TIMEOUT 600)
endif()
