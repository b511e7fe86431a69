#include "SerialPortSettings.h"
#include "PosixCall.h"

// termios2 and BOTHER come from the kernel's header; the C library's <termios.h>
// defines a different struct termios and must stay out of this file.
#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <QDebug>

#include <cerrno>
#include <cstring>

static_assert(sizeof(struct termios2) <= 64, "termios2 does not fit its storage");

namespace {

struct RateConstant
{
    quint32 rate;
    unsigned int constant;
};

const RateConstant rateConstants[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

unsigned int constantOfRate(quint32 rate)
{
    for (const RateConstant& entry : rateConstants) {
        if (entry.rate == rate)
            return entry.constant;
    }
    return BOTHER;
}

quint32 rateOfRecord(const struct termios2& tio)
{
    const unsigned int constant = tio.c_cflag & CBAUD;
    if (constant == BOTHER)
        return tio.c_ospeed;
    for (const RateConstant& entry : rateConstants) {
        if (entry.constant == constant)
            return entry.rate;
    }
    return 0;
}

bool ioctlRetry(int descriptor, unsigned long request, void* argument, const char* name)
{
    if (posix::ioctlRetry(descriptor, request, argument) == -1) {
        posix::traceFailure("SerialPortSettings", name, errno);
        return false;
    }
    return true;
}

// A pseudo-terminal or a driver without modem lines answers ENOTTY or EINVAL:
// there is no RTS to drive, which is not a failure of the settings.
bool hasNoModemLines(int error)
{
    return error == ENOTTY || error == EINVAL;
}

} // namespace

bool SerialPortSettings::isStandardRate(quint32 rate)
{
    return constantOfRate(rate) != BOTHER;
}

bool SerialPortSettings::load(int descriptor)
{
    struct termios2 tio;
    std::memset(&tio, 0, sizeof tio);
    if (!ioctlRetry(descriptor, TCGETS2, &tio, "ioctl(TCGETS2)"))
        return false;
    std::memcpy(record, &tio, sizeof tio);
    loaded = true;

    baudRate = rateOfRecord(tio);
    switch (tio.c_cflag & CSIZE) {
    case CS5:
        byteSize = 5;
        break;
    case CS6:
        byteSize = 6;
        break;
    case CS7:
        byteSize = 7;
        break;
    default:
        byteSize = 8;
        break;
    }
    if (!(tio.c_cflag & PARENB))
        parity = NoParity;
    else if (tio.c_cflag & CMSPAR)
        parity = (tio.c_cflag & PARODD) ? MarkParity : SpaceParity;
    else
        parity = (tio.c_cflag & PARODD) ? OddParity : EvenParity;
    parityEnabled = tio.c_iflag & INPCK;
    if (!(tio.c_cflag & CSTOPB))
        stopBits = OneStopBit;
    else
        stopBits = byteSize == 5 ? OneAndHalfStopBits : TwoStopBits;

    outxCtsFlow = tio.c_cflag & CRTSCTS;
    if (outxCtsFlow) {
        rtsControl = RtsControlHandshake;
    } else {
        int lines = 0;
        int result;
        do {
            result = ::ioctl(descriptor, TIOCMGET, &lines);
        } while (result == -1 && errno == EINTR);
        // Without modem lines there is no RTS to hold high.
        rtsControl = (result == 0 && (lines & TIOCM_RTS)) ? RtsControlEnable : RtsControlDisable;
    }
    inX = tio.c_iflag & IXOFF;
    outX = tio.c_iflag & IXON;
    binary = !(tio.c_lflag & ICANON) && !(tio.c_oflag & OPOST);
    abortOnError = false;
    return true;
}

bool SerialPortSettings::apply(int descriptor) const
{
    if (!loaded)
        return false;
    struct termios2 tio;
    std::memcpy(&tio, record, sizeof tio);

    if (binary) {
        tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IUCLC);
        tio.c_oflag &= ~OPOST;
        tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    }
    // Receive always, whatever the carrier says; reads never block (the port is
    // non-blocking and waits are done with poll).
    tio.c_cflag |= CREAD | CLOCAL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    // Same rate both ways: the input rate field (CIBAUD) stays 0.
    tio.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= constantOfRate(baudRate);
    tio.c_ispeed = baudRate;
    tio.c_ospeed = baudRate;

    tio.c_cflag &= ~CSIZE;
    switch (byteSize) {
    case 5:
        tio.c_cflag |= CS5;
        break;
    case 6:
        tio.c_cflag |= CS6;
        break;
    case 7:
        tio.c_cflag |= CS7;
        break;
    default:
        tio.c_cflag |= CS8;
        break;
    }

    tio.c_cflag &= ~(PARENB | PARODD | CMSPAR);
    if (parity == OddParity)
        tio.c_cflag |= PARENB | PARODD;
    else if (parity == EvenParity)
        tio.c_cflag |= PARENB;
    else if (parity == MarkParity)
        tio.c_cflag |= PARENB | PARODD | CMSPAR;
    else if (parity == SpaceParity)
        tio.c_cflag |= PARENB | CMSPAR;
    if (parityEnabled)
        tio.c_iflag |= INPCK;
    else
        tio.c_iflag &= ~INPCK;

    // 1.5 and 2 stop bits are both CSTOPB; the UART sends 1.5 when the word has 5 bits.
    if (stopBits == OneStopBit)
        tio.c_cflag &= ~CSTOPB;
    else
        tio.c_cflag |= CSTOPB;

    if (outxCtsFlow || rtsControl == RtsControlHandshake)
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~CRTSCTS;
    if (inX)
        tio.c_iflag |= IXOFF;
    else
        tio.c_iflag &= ~IXOFF;
    if (outX)
        tio.c_iflag |= IXON;
    else
        tio.c_iflag &= ~IXON;

    if (!ioctlRetry(descriptor, TCSETS2, &tio, "ioctl(TCSETS2)"))
        return false;

    if (rtsControl == RtsControlHandshake)
        return true;
    int rts = TIOCM_RTS;
    const unsigned long request = rtsControl == RtsControlEnable ? TIOCMBIS : TIOCMBIC;
    int result;
    do {
        result = ::ioctl(descriptor, request, &rts);
    } while (result == -1 && errno == EINTR);
    if (result == -1 && !hasNoModemLines(errno)) {
        qDebug() << "SerialPortSettings: ioctl(TIOCMBIS/TIOCMBIC) failed, errno" << errno
                 << ::strerror(errno);
        return false;
    }
    return true;
}

bool SerialPortSettings::restore(int descriptor) const
{
    if (!loaded)
        return false;
    struct termios2 tio;
    std::memcpy(&tio, record, sizeof tio);
    return ioctlRetry(descriptor, TCSETS2, &tio, "ioctl(TCSETS2)");
}
