# The web build: Debian's emscripten, through its own CMake platform file.
#
# Emscripten's JavaScript steps run under the node on the PATH, which need
# not be Debian's and then does not look in /usr/share/nodejs for the acorn
# that Debian's emscripten brings along (emcc -O2 stops with "Cannot find
# module 'acorn'"). Every compile and link step is therefore started with
# NODE_PATH set, and so is this configure run's own trial build.
set(KZ_EMSCRIPTEN_ROOT /usr/share/emscripten CACHE PATH "Emscripten's installation (Debian: emscripten)")
if(NOT EXISTS ${KZ_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake)
  message(FATAL_ERROR "emscripten is not installed in ${KZ_EMSCRIPTEN_ROOT}: run scripts/setup "
                      "(Debian: emscripten), or set KZ_EMSCRIPTEN_ROOT")
endif()
set(KZ_NODE_PATH /usr/share/nodejs CACHE PATH "Where node finds the modules emscripten needs (acorn)")
set(ENV{NODE_PATH} ${KZ_NODE_PATH})
include(${KZ_EMSCRIPTEN_ROOT}/cmake/Modules/Platform/Emscripten.cmake)
set(kz_with_node_path env NODE_PATH=${KZ_NODE_PATH})
set(CMAKE_C_COMPILER_LAUNCHER ${kz_with_node_path} CACHE STRING "")
set(CMAKE_CXX_COMPILER_LAUNCHER ${kz_with_node_path} CACHE STRING "")
set(CMAKE_C_LINKER_LAUNCHER ${kz_with_node_path} CACHE STRING "")
set(CMAKE_CXX_LINKER_LAUNCHER ${kz_with_node_path} CACHE STRING "")

# C++ exceptions are caught as on the other systems: the programs turn a
# failed allocation into their "memory exhaust" message instead of stopping.
# (CMake reads this file more than once; the flags are set, not appended.)
set(CMAKE_CXX_FLAGS_INIT
    "-sDISABLE_EXCEPTION_CATCHING=0 -include ${CMAKE_CURRENT_LIST_DIR}/emscripten_libcxx.h")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-sDISABLE_EXCEPTION_CATCHING=0")
