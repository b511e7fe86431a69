#include "ReglagesRefuses.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <dlfcn.h>

// Declared here rather than through <sys/ioctl.h>, whose termios definitions
// clash with the kernel's termios2 ones pulled in by <asm/ioctls.h>.
extern "C" int ioctl(int descriptor, unsigned long request, ...);

namespace {

std::atomic<int> rangRefuse{0};
std::atomic<int> vus{0};

bool estReglage(unsigned long request)
{
    return request == TCSETS || request == TCSETSW || request == TCSETSF || request == TCSETS2 ||
           request == TCSETSW2 || request == TCSETSF2;
}

} // namespace

void ReglagesRefuses::refuserReglage(int n)
{
    vus = 0;
    rangRefuse = n;
}

int ReglagesRefuses::reglagesVus()
{
    return vus;
}

extern "C" int ioctl(int descriptor, unsigned long request, ...)
{
    va_list arguments;
    va_start(arguments, request);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);

    using Ioctl = int (*)(int, unsigned long, void*);
    static const Ioctl suivant = reinterpret_cast<Ioctl>(dlsym(RTLD_NEXT, "ioctl"));
    if (estReglage(request)) {
        const int rang = ++vus;
        if (rang == rangRefuse) {
            errno = EIO;
            return -1;
        }
    }
    return suivant(descriptor, request, argument);
}
