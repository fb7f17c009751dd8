// The sample disk in the wrappings that emulators and archive sets use.
// Each is written from its published layout, so that the tools' readers are
// tried against files they did not make; floptool reads them all.
#pragma once

#include "disk_geometry.h"

namespace kz::sample {

// The 4096-byte header that goes before the disk in an FDI file.
byte_vector make_fdi_header();

byte_vector make_d88(const byte_vector& disk);
byte_vector make_nfd(const byte_vector& disk);
byte_vector make_fdd(const byte_vector& disk);
byte_vector make_dim(const byte_vector& disk);

} // namespace kz::sample
