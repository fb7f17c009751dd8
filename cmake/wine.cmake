# Windows programs of a cross build run on this machine under Wine: the
# test programs, the end-to-end tests' programs and make_sample alike, all
# through one wrapper that CMake knows as the cross-compiling emulator.
# Each build folder has its own Wine prefix (made on first use, which takes
# some seconds). A test run keeps the prefix's Wine server running (the
# fixture below), and outside one the wrapper keeps a server for 30 s:
# without, every program would pay about a second for starting its own.
# What the wrapper and the fixture decide, and what the server says, goes to
# the build's Wine log (wine.log); a failing run shows it.
find_program(KZ_WINE NAMES wine64 wine PATHS /usr/lib/wine)
find_program(KZ_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine)
if(NOT KZ_WINE OR NOT KZ_WINESERVER)
  message(WARNING "Wine not found (Debian: wine64): the Windows programs are built, not run")
  return()
endif()

set(KZ_WINE_PREFIX ${PROJECT_BINARY_DIR}/wine)
set(KZ_WINE_BUILD_LOG ${PROJECT_BINARY_DIR}/wine.log)
set(KZ_WINE_RUN ${PROJECT_BINARY_DIR}/wine_run)
foreach(script wine_run wine_server)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/${script}.in ${PROJECT_BINARY_DIR}/${script} @ONLY
                 FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                  WORLD_READ WORLD_EXECUTE)
endforeach()
# The end-to-end tests call the wrapper themselves (KZ_RUNNER), with a log
# of each run; the build and the other tests show the log when a program
# fails.
set(KZ_RUNNER ${KZ_WINE_RUN})
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${KZ_WINE_RUN} --log-on-failure)
else()
  list(JOIN CMAKE_CROSSCOMPILING_EMULATOR " " KZ_RUNNER)
endif()

# Every test that runs a Windows program requires the fixture "wine".
if(KZ_TESTS)
  set(KZ_WINE_FIXTURE wine)
  add_test(NAME wine_server_start COMMAND ${PROJECT_BINARY_DIR}/wine_server start)
  add_test(NAME wine_server_stop COMMAND ${PROJECT_BINARY_DIR}/wine_server stop)
  set_tests_properties(wine_server_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
endif()
