# The shipped 32-bit program's test set (tests/vm/win32_set.py) in the emulated test guest,
# for machines that cannot execute 32-bit x86 code: there the wine.* tests run the x86_64
# build, and only these run build/win32. Where 32-bit code runs, the wine.* tests already run
# build/win32 under 32-bit Wine and the set is left out, unless the environment of the
# configure step has MVR_VM_TESTS=1 (scripts/setup.sh then builds the guest image too).
# One boot runs the whole set (booting and making a prefix cost minutes); win32.<name> then
# reports each test's own result.
set(MVR_VM_SLOW_FACTOR 5 CACHE STRING "Wait limits of the tests in the guest, as a multiple of native")

find_package(Python3 REQUIRED COMPONENTS Interpreter)
execute_process(COMMAND ${CMAKE_SOURCE_DIR}/scripts/wine-arch.sh
                OUTPUT_VARIABLE mvr_wine_arch OUTPUT_STRIP_TRAILING_WHITESPACE)
if(mvr_wine_arch STREQUAL "win32" AND NOT "$ENV{MVR_VM_TESTS}" STREQUAL "1")
  return()
endif()

get_filename_component(mvr_build_root ${MVR_WIN32_DIR} DIRECTORY)
file(RELATIVE_PATH mvr_build_rel ${CMAKE_SOURCE_DIR} ${mvr_build_root})
if(mvr_build_rel MATCHES "^\\.\\.")
  message(WARNING "32-bit set left out: the guest sees only the source tree, the build is at ${mvr_build_root}")
  return()
endif()
set(mvr_results ${mvr_build_root}/win32-results)
execute_process(COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/win32_set.py --list
                OUTPUT_VARIABLE mvr_win32_tests OUTPUT_STRIP_TRAILING_WHITESPACE)
string(REPLACE "\n" ";" mvr_win32_tests "${mvr_win32_tests}")

# Each step in the guest has a limit of its own (the prefix's making; each test in
# win32_set.py stops when it prints nothing for 900 s or runs 2400 s), so the machine is only
# stopped when it shows no progress past those, or after their sum: on a machine whose other
# work leaves the guest a fraction of its speed the set takes long, yet finishes.
list(LENGTH mvr_win32_tests mvr_win32_count)
math(EXPR mvr_set_limit "2400 * (${mvr_win32_count} + 1)")
math(EXPR mvr_ctest_limit "${mvr_set_limit} + 60")

# The guest has no makensis: the wow64 test gets the 32-bit installer made here. It needs no
# Wine, so it does not wait for the Wine tests' turn.
add_test(NAME win32.package
         COMMAND ${CMAKE_SOURCE_DIR}/scripts/package.sh ${mvr_build_root}/win32 ${mvr_build_root}/win32-package)
set_tests_properties(win32.package PROPERTIES FIXTURES_SETUP win32package)
add_test(NAME win32.set
         COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/vmrun.py --timeout ${mvr_set_limit} --quiet-limit 2700
                 --vm-dir ${mvr_build_root}/vm --env MVR_SLOW_FACTOR=${MVR_VM_SLOW_FACTOR} --
                 python3 tests/vm/win32_set.py --build ${mvr_build_rel} --results ${mvr_build_rel}/win32-results
                 --state /tmp/mvr-win32 --local-copy --prefix-cache ${mvr_build_rel}/vm
                 --package ${mvr_build_rel}/win32-package
         WORKING_DIRECTORY ${CMAKE_SOURCE_DIR})
# Started first, so that with two tests at a time the set runs beside the Wine tests.
set_tests_properties(win32.set PROPERTIES FIXTURES_SETUP win32set FIXTURES_REQUIRED win32package
                     TIMEOUT ${mvr_ctest_limit} COST 100000)
set_tests_properties(win32.package PROPERTIES COST 100001)
foreach(name IN LISTS mvr_win32_tests)
  add_test(NAME win32.${name}
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_CURRENT_LIST_DIR}/show_result.py ${mvr_results} ${name})
  set_tests_properties(win32.${name} PROPERTIES FIXTURES_REQUIRED win32set)
endforeach()
