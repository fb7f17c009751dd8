// Linked into every fuzz target, under libFuzzer and in the replay build.
// The libraries report on standard output; at millions of runs that is
// only noise, and writing it would take most of the time. KZ_FUZZ_VERBOSE
// in the environment keeps it, to see what an input does.
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::getenv("KZ_FUZZ_VERBOSE") != nullptr) {
        return 0;
    }
#ifdef _WIN32
    constexpr const char* null_device = "NUL";
#else
    constexpr const char* null_device = "/dev/null";
#endif
    if (std::freopen(null_device, "w", stdout) == nullptr) {
        return 1;
    }
    return 0;
}
