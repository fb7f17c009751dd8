# Brings a Linux build's five programs up to date, for the Windows build's
# end-to-end tests that repeat every run with them: a missing build folder is
# configured as the release preset does, and stale programs are rebuilt, so
# that the comparison neither stops nor compares with old programs.
#   cmake -D SOURCE=<source tree> -D BUILD=<build folder> -D JOBS=<n> [-D EXTRA=<targets>]
#         -P linux_programs.cmake
# EXTRA names more targets of that build to bring up to date (the web
# build's browser test needs the sample data too).
set(programs kzpc98shapes kzpc98chg_shapes kzx68kshapes kzx68kchg_shapes kzega_shapes ${EXTRA})
if(NOT EXISTS "${BUILD}/CMakeCache.txt")
  message(STATUS "Configuring the Linux build ${BUILD}")
  # The caller's cross compilers are not for this build.
  unset(ENV{CC})
  unset(ENV{CXX})
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${SOURCE}" -B "${BUILD}" -G Ninja -D CMAKE_BUILD_TYPE=Release
                  RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "could not configure the Linux build ${BUILD}")
  endif()
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${BUILD}" --parallel ${JOBS} --target ${programs}
                RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "could not build the Linux programs in ${BUILD}")
endif()
