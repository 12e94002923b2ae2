// What every fuzz target does with a result: an error is turned into its message, so that the formatting of each
// error the input can cause runs too.
#pragma once

#include "utils/error.h"

namespace tarnu::fuzz {

// The message of `result`'s error, if it has one; true when it holds a value.
template <typename T>
bool seen(const Result<T>& result) {
    if (result.ok()) return true;
    (void)result.error().message();
    return false;
}

}  // namespace tarnu::fuzz
