# libspng and zlib, linked statically into every program, so that each stays
# a single file on Linux and Windows alike.
#
# Debian ships libspng as a shared library only, so scripts/setup fetches
# its source package (apt-get source libspng) into build/deps/libspng, and
# it is built here for whatever this build is: the release and sanitizer
# builds, the fuzz build with clang (instrumented like our own code), the
# mingw-w64 build. zlib is the static archive of zlib1g-dev, or of
# libz-mingw-w64-dev for Windows (found under the toolchain's root).
set(KZ_LIBSPNG_SOURCE ${PROJECT_SOURCE_DIR}/build/deps/libspng
    CACHE PATH "libspng's source tree (Debian's source package libspng)")
if(NOT EXISTS ${KZ_LIBSPNG_SOURCE}/spng/spng.c)
  message(FATAL_ERROR "libspng's source is not in ${KZ_LIBSPNG_SOURCE}: run scripts/setup, "
                      "which fetches it with apt-get source libspng (or set KZ_LIBSPNG_SOURCE "
                      "to an unpacked libspng source tree)")
endif()

if(EMSCRIPTEN)
  # Emscripten's own zlib is a port that would be downloaded; the web build
  # compiles Debian's zlib source, which scripts/setup fetches as it does
  # libspng's (apt-get source zlib), into build/deps/zlib.
  set(KZ_ZLIB_SOURCE ${PROJECT_SOURCE_DIR}/build/deps/zlib
      CACHE PATH "zlib's source tree (Debian's source package zlib)")
  if(NOT EXISTS ${KZ_ZLIB_SOURCE}/inflate.c)
    message(FATAL_ERROR "zlib's source is not in ${KZ_ZLIB_SOURCE}: run scripts/setup, which "
                        "fetches it with apt-get source zlib (or set KZ_ZLIB_SOURCE to an "
                        "unpacked zlib source tree)")
  endif()
  add_library(kz_zlib STATIC)
  foreach(part adler32 compress crc32 deflate infback inffast inflate inftrees trees uncompr zutil)
    target_sources(kz_zlib PRIVATE ${KZ_ZLIB_SOURCE}/${part}.c)
  endforeach()
  target_include_directories(kz_zlib SYSTEM PUBLIC ${KZ_ZLIB_SOURCE})
  target_compile_options(kz_zlib PRIVATE -w)
else()
  find_path(KZ_ZLIB_INCLUDE zlib.h)
  find_library(KZ_ZLIB_ARCHIVE NAMES libz.a)
  if(NOT KZ_ZLIB_INCLUDE OR NOT KZ_ZLIB_ARCHIVE)
    if(MINGW)
      set(kz_zlib_package libz-mingw-w64-dev)
    else()
      set(kz_zlib_package zlib1g-dev)
    endif()
    message(FATAL_ERROR "zlib's header or static archive libz.a is missing (Debian: "
                        "${kz_zlib_package}): run scripts/setup")
  endif()
  add_library(kz_zlib STATIC IMPORTED)
  set_target_properties(kz_zlib PROPERTIES
    IMPORTED_LOCATION ${KZ_ZLIB_ARCHIVE}
    INTERFACE_INCLUDE_DIRECTORIES ${KZ_ZLIB_INCLUDE})
endif()

add_library(kz_spng STATIC ${KZ_LIBSPNG_SOURCE}/spng/spng.c)
target_compile_definitions(kz_spng PUBLIC SPNG_STATIC)
target_include_directories(kz_spng SYSTEM PUBLIC ${KZ_LIBSPNG_SOURCE}/spng)
# Someone else's code: its warnings are not ours to mend.
target_compile_options(kz_spng PRIVATE -w)
target_link_libraries(kz_spng PUBLIC kz_zlib)
if(NOT WIN32)
  target_link_libraries(kz_spng PUBLIC m)
endif()
