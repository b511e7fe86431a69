#pragma once

#include <QByteArray>
#include <QString>
#include <functional>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

// The instrument's end of a pseudo-terminal: the test holds the master side and
// writes or reads the bytes an instrument would; the code under test opens the
// slave by name like any serial port. The slave is not kept open here, so the
// device under test is its only user.
class InstrumentTerminal
{
public:
    InstrumentTerminal()
    {
        int slave = -1;
        char name[128] = {};
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0)
            return;
        // Raw on both sides: no echo, no line discipline translating bytes.
        termios raw{};
        if (tcgetattr(slave, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(slave, TCSANOW, &raw);
        }
        slaveName = QString::fromLocal8Bit(name);
        ::close(slave);
        fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
        fcntl(master, F_SETFD, FD_CLOEXEC);
    }
    ~InstrumentTerminal() { hangUp(); }

    InstrumentTerminal(const InstrumentTerminal&) = delete;
    InstrumentTerminal& operator=(const InstrumentTerminal&) = delete;

    bool isValid() const { return master >= 0; }
    QString name() const { return slaveName; }

    // Writes everything, waiting for room when the terminal's queue is full;
    // `whileWaiting`, if given, runs meanwhile (to serve the reader's messages
    // when the reader waits for this thread).
    bool send(const QByteArray& bytes, const std::function<void()>& whileWaiting = {})
    {
        qint64 done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::write(master, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno == EAGAIN) {
                if (whileWaiting)
                    whileWaiting();
                pollfd p{master, POLLOUT, 0};
                ::poll(&p, 1, whileWaiting ? 10 : 100);
            } else if (!(n < 0 && errno == EINTR)) {
                return false;
            }
        }
        return true;
    }

    // Reads what the device sent, waiting up to msecs for `count` bytes.
    QByteArray receive(qint64 count, int msecs = 2000)
    {
        QByteArray bytes;
        while (bytes.size() < count) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, msecs) <= 0)
                break;
            char chunk[4096];
            const ssize_t n = ::read(master, chunk, sizeof chunk);
            if (n <= 0)
                break;
            bytes.append(chunk, int(n));
        }
        return bytes;
    }

    // The slave's line settings as the device left them.
    termios settings() const
    {
        termios t{};
        tcgetattr(master, &t);
        return t;
    }

    speed_t outputSpeed() const
    {
        const termios t = settings();
        return cfgetospeed(&t);
    }
    speed_t inputSpeed() const
    {
        const termios t = settings();
        return cfgetispeed(&t);
    }

    // Closing the master hangs the slave up, as pulling a USB adapter would.
    void hangUp()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

private:
    int master = -1;
    QString slaveName;
};
