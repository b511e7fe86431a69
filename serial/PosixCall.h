#pragma once

// System calls of the serial layer, restarted when a signal interrupts them, and
// the one way their failures are traced (to the debug output, never the operator).
namespace posix {

// ioctl() on a descriptor, restarted after EINTR; -1 with errno set on failure.
int ioctlRetry(int descriptor, unsigned long request, void* argument);

// Traces "<component>: <function> failed, errno <n> <text>".
void traceFailure(const char* component, const char* function, int error);

} // namespace posix
