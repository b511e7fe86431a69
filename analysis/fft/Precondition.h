#pragma once

namespace fft {

// Stops the application with the text of the failed condition. Called only
// through FFT_REQUIRE, which stays active in every build type: these checks
// guard array bounds and buffer aliasing, not data values.
[[noreturn]] void preconditionFailed(const char* condition, const char* file, int line);

} // namespace fft

#define FFT_REQUIRE(condition)                                                                     \
    ((condition) ? static_cast<void>(0) : ::fft::preconditionFailed(#condition, __FILE__, __LINE__))
