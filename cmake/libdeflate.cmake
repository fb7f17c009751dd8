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
  # The compressor, the checksums it and the PNG chunks need, and the
  # processor-feature probes that pick their fastest forms (empty where the
  # processor is another).
  kz_library_from_source(kz_deflate libdeflate KZ_LIBDEFLATE_SOURCE lib/deflate_compress.c
                         lib/deflate_compress lib/zlib_compress lib/adler32 lib/crc32 lib/utils
                         lib/x86/cpu_features lib/arm/cpu_features)
else()
  kz_library_from_archive(kz_deflate libdeflate libdeflate.h libdeflate.a libdeflate-dev)
endif()
