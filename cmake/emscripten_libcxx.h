// What the web build's C++ library (emscripten 3.1.6's libc++ 14) lacks of
// C++20 and the suite uses; included before every C++ source of that build
// only, and only where the library does not have it itself.
#pragma once

#include <bit>
#include <cstddef>
#include <memory>
#include <type_traits>

#ifndef __cpp_lib_smart_ptr_for_overwrite
namespace std {

// An array whose elements are left uninitialised, as the standard one does.
template <class T> unique_ptr<T> make_unique_for_overwrite(size_t count) {
    static_assert(is_unbounded_array_v<T>, "only the array form is provided");
    return unique_ptr<T>(new remove_extent_t<T>[count]);
}

} // namespace std
#endif

#ifndef __cpp_lib_bit_cast
namespace std {

template <class To, class From> constexpr To bit_cast(const From& from) noexcept {
    static_assert(sizeof(To) == sizeof(From) && is_trivially_copyable_v<To> &&
                  is_trivially_copyable_v<From>);
    return __builtin_bit_cast(To, from);
}

} // namespace std
#endif
