# libdeflate, which compresses the pixel data of the PNG files the programs
# write in one call over the whole picture, several times faster than zlib;
# linked statically, so that each program stays a single file.
#
# Linux builds link the static archive of Debian's libdeflate-dev. Debian
# has no build of it for mingw-w64 or emscripten, so for the Windows and
# web builds scripts/setup fetches the source package of the same version
# (apt-get source libdeflate) into build/deps/libdeflate, and its compressor
# is compiled here: the same code compresses alike everywhere, and every
# build writes the same PNG bytes.
if(MINGW OR EMSCRIPTEN)
  set(KZ_LIBDEFLATE_SOURCE ${PROJECT_SOURCE_DIR}/build/deps/libdeflate
      CACHE PATH "libdeflate's source tree (Debian's source package libdeflate)")
  if(NOT EXISTS ${KZ_LIBDEFLATE_SOURCE}/lib/deflate_compress.c)
    message(FATAL_ERROR "libdeflate's source is not in ${KZ_LIBDEFLATE_SOURCE}: run "
                        "scripts/setup, which fetches it with apt-get source libdeflate (or set "
                        "KZ_LIBDEFLATE_SOURCE to an unpacked libdeflate source tree)")
  endif()
  # The compressor, the checksums it and the PNG chunks need, and the
  # processor-feature probes that pick their fastest forms (empty where the
  # processor is another).
  add_library(kz_deflate STATIC)
  foreach(part deflate_compress zlib_compress adler32 crc32 utils x86/cpu_features arm/cpu_features)
    target_sources(kz_deflate PRIVATE ${KZ_LIBDEFLATE_SOURCE}/lib/${part}.c)
  endforeach()
  target_include_directories(kz_deflate SYSTEM PUBLIC ${KZ_LIBDEFLATE_SOURCE})
  # Someone else's code: its warnings are not ours to mend.
  target_compile_options(kz_deflate PRIVATE -w)
else()
  find_path(KZ_LIBDEFLATE_INCLUDE libdeflate.h)
  find_library(KZ_LIBDEFLATE_ARCHIVE NAMES libdeflate.a)
  if(NOT KZ_LIBDEFLATE_INCLUDE OR NOT KZ_LIBDEFLATE_ARCHIVE)
    message(FATAL_ERROR "libdeflate's header or static archive libdeflate.a is missing (Debian: "
                        "libdeflate-dev): run scripts/setup")
  endif()
  add_library(kz_deflate STATIC IMPORTED)
  set_target_properties(kz_deflate PROPERTIES
    IMPORTED_LOCATION ${KZ_LIBDEFLATE_ARCHIVE}
    INTERFACE_INCLUDE_DIRECTORIES ${KZ_LIBDEFLATE_INCLUDE})
endif()
