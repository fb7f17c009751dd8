# Cross build for 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix).
# The programs run on this machine under Wine; see the windows preset.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(kz_mingw x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${kz_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${kz_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${kz_mingw}-windres)

# Libraries and headers from the mingw-w64 tree only; programs (the test
# tools, Wine) from this machine.
set(CMAKE_FIND_ROOT_PATH /usr/${kz_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
