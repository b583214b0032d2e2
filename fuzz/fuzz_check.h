// What the fuzz targets share: a check that ends the run so that libFuzzer keeps the input.
#pragma once

#include <cstdlib>

namespace lorvex::fuzz {

inline void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace lorvex::fuzz
