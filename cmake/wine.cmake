# Windows programs of a cross build run on this machine under Wine: the
# test programs, the end-to-end tests' programs and make_sample alike, all
# through one wrapper that CMake knows as the cross-compiling emulator.
# Each build folder has its own Wine prefix (made on first use, which takes
# some seconds). A test run starts one persistent Wine server (the fixture
# below), and outside one the wrapper keeps a server for 30 s: without, every
# program would pay about a second for starting its own.
find_program(KZ_WINE NAMES wine64 wine PATHS /usr/lib/wine)
find_program(KZ_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine)
if(NOT KZ_WINE OR NOT KZ_WINESERVER)
  message(WARNING "Wine not found (Debian: wine64): the Windows programs are built, not run")
  return()
endif()

set(KZ_WINE_PREFIX ${PROJECT_BINARY_DIR}/wine)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine_run.in ${PROJECT_BINARY_DIR}/wine_run @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine_server.in ${PROJECT_BINARY_DIR}/wine_server @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_BINARY_DIR}/wine_run)
endif()

# Every test that runs a Windows program requires the fixture "wine".
if(KZ_TESTS)
  set(KZ_WINE_FIXTURE wine)
  add_test(NAME wine_server_start COMMAND ${PROJECT_BINARY_DIR}/wine_server start)
  add_test(NAME wine_server_stop COMMAND ${PROJECT_BINARY_DIR}/wine_server stop)
  set_tests_properties(wine_server_start PROPERTIES FIXTURES_SETUP wine TIMEOUT 300)
  set_tests_properties(wine_server_stop PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60)
endif()
