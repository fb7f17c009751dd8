# Brings the web build's page kzshapes.html up to date, for the packages of
# the other builds, which carry it beside the guide: a missing web build
# folder is configured as the web preset does, and a stale page is made
# anew. Runs when a build is installed (cpack included), so that building
# the programs alone needs no emscripten; several installs at once (the
# tests run them side by side) take turns through a lock.
#   cmake -D SOURCE=<source tree> -D BUILD=<web build folder> -P web_page.cmake
file(MAKE_DIRECTORY "${BUILD}")
file(LOCK "${BUILD}/.kzshapes-page.lock" GUARD PROCESS TIMEOUT 900 RESULT_VARIABLE locked)
if(NOT locked STREQUAL "0")
  message(FATAL_ERROR "could not take the lock of the web build ${BUILD}: ${locked}")
endif()
if(NOT EXISTS "${BUILD}/CMakeCache.txt")
  message(STATUS "Configuring the web build ${BUILD}")
  # The caller's compilers are not for this build.
  unset(ENV{CC})
  unset(ENV{CXX})
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${BUILD}" -G Ninja
                          -D CMAKE_BUILD_TYPE=MinSizeRel
                          -D CMAKE_TOOLCHAIN_FILE=${SOURCE}/cmake/emscripten.cmake
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "could not configure the web build ${BUILD}, which makes kzshapes.html "
                        "for the packages (it needs emscripten: run scripts/setup)")
  endif()
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD}" --target kzshapes_page
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not make kzshapes.html in the web build ${BUILD}")
endif()
