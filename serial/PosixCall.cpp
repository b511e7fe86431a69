#include "PosixCall.h"

#include <QDebug>

#include <cerrno>
#include <cstring>
#include <sys/ioctl.h>

namespace posix {

int ioctlRetry(int descriptor, unsigned long request, void* argument)
{
    int result;
    do {
        result = ::ioctl(descriptor, request, argument);
    } while (result == -1 && errno == EINTR);
    return result;
}

void traceFailure(const char* component, const char* function, int error)
{
    qDebug().noquote() << QStringLiteral("%1: %2 failed, errno %3 %4")
                              .arg(QLatin1String(component), QLatin1String(function))
                              .arg(error)
                              .arg(QString::fromLocal8Bit(::strerror(error)));
}

} // namespace posix
