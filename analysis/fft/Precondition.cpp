#include "fft/Precondition.h"

#include <QtGlobal>
#include <cstdlib>

namespace fft {

void preconditionFailed(const char* condition, const char* file, int line)
{
    qFatal("fft: precondition failed: %s (%s:%d)", condition, file, line);
    // qFatal does not return, but it is not declared [[noreturn]] everywhere.
    std::abort();
}

} // namespace fft
