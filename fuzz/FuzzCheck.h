#pragma once
// A broken invariant ends the run, so that libFuzzer keeps the input that broke it.
#include <cstdlib>

namespace quellon::fuzz {

inline void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace quellon::fuzz
