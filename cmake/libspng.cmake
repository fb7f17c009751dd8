# libspng and zlib, linked statically into every program, so that each stays
# a single file on Linux and Windows alike.
#
# Debian ships libspng as a shared library only, so scripts/setup fetches
# its source package (apt-get source libspng) into build/deps/libspng, and
# it is built here for whatever this build is: the release and sanitizer
# builds, the fuzz build with clang (instrumented like our own code), the
# mingw-w64 build. zlib is the static archive of zlib1g-dev, or of
# libz-mingw-w64-dev for Windows (found under the toolchain's root).
if(EMSCRIPTEN)
  # Emscripten's own zlib is a port that would be downloaded; the web build
  # compiles Debian's zlib source, which scripts/setup fetches as it does
  # libspng's (apt-get source zlib), into build/deps/zlib.
  kz_library_from_source(kz_zlib zlib KZ_ZLIB_SOURCE inflate.c
                         adler32 compress crc32 deflate infback inffast inflate inftrees trees
                         uncompr zutil)
elseif(MINGW)
  kz_library_from_archive(kz_zlib zlib zlib.h libz.a libz-mingw-w64-dev)
else()
  kz_library_from_archive(kz_zlib zlib zlib.h libz.a zlib1g-dev)
endif()

kz_library_from_source(kz_spng libspng KZ_LIBSPNG_SOURCE spng/spng.c spng/spng)
target_compile_definitions(kz_spng PUBLIC SPNG_STATIC)
target_include_directories(kz_spng SYSTEM PUBLIC ${KZ_LIBSPNG_SOURCE}/spng)
target_link_libraries(kz_spng PUBLIC kz_zlib)
if(NOT WIN32)
  target_link_libraries(kz_spng PUBLIC m)
endif()
