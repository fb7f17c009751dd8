// UTF-8 names to the UTF-16 ones that the Windows file API takes. Private
// to the file layer.
#pragma once

#include <string>

namespace kz {

// Empty when path is empty, is not valid UTF-8, or memory runs out: every
// caller then fails as if the file could not be opened.
std::wstring wide_path(const char* path) noexcept;

} // namespace kz
