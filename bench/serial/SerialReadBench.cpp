// Pushes the instrument's stream through a pseudo-terminal into an unbuffered
// AbstractSerial read in 16-byte blocks on readyRead(), as the acquisition worker
// reads it, and reports the reading process's speed and CPU time.
//
//   serial_read_bench [--samples N] [--duration SECONDS] [--mode throughput|rate|both]
//
// The instrument runs in a child process, so the CPU figures are the reader's alone.

#include "AbstractSerial.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

struct Options
{
    qint64 samples = 2000000;
    int durationSeconds = 30;
    bool throughput = true;
    bool rate = true;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Sample i of the stream: a 16-bit little-endian counter, so a lost, repeated or
// swapped block shows at once.
void sampleBytes(qint64 i, char* out)
{
    out[0] = char(i & 0xff);
    out[1] = char((i >> 8) & 0xff);
}

// The instrument: waits for the go byte, then writes `samples` samples, either as
// fast as the terminal takes them or 2 bytes every 10 ms. It keeps the master open
// until the reader is done (its end of `done` closes), since closing it would hang
// the reader's port up and discard unread bytes.
[[noreturn]] void runInstrument(int master, int go, int done, qint64 samples, bool paced)
{
    char byte;
    if (::read(go, &byte, 1) != 1)
        _exit(1);
    if (paced) {
        timespec next{};
        clock_gettime(CLOCK_MONOTONIC, &next);
        for (qint64 i = 0; i < samples; ++i) {
            char sample[2];
            sampleBytes(i, sample);
            if (!writeAll(master, sample, 2))
                _exit(1);
            next.tv_nsec += 10 * 1000 * 1000;
            if (next.tv_nsec >= 1000000000) {
                next.tv_nsec -= 1000000000;
                ++next.tv_sec;
            }
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
            }
        }
    } else {
        static char chunk[65536];
        qint64 i = 0;
        while (i < samples) {
            const qint64 count = qMin<qint64>(samples - i, sizeof chunk / 2);
            for (qint64 k = 0; k < count; ++k)
                sampleBytes(i + k, chunk + 2 * k);
            if (!writeAll(master, chunk, size_t(count * 2)))
                _exit(1);
            i += count;
        }
    }
    while (::read(done, &byte, 1) > 0) {
    }
    _exit(0);
}

struct Result
{
    qint64 bytes = 0;
    qint64 errors = 0;
    qint64 readyReads = 0;
    double wallSeconds = 0;
    double cpu = 0;
    bool complete = false;
};

Result runOnce(int argc, char** argv, qint64 samples, bool paced, int timeoutMs)
{
    Result result;
    int master = -1;
    int slave = -1;
    char name[128] = {};
    int go[2];
    int done[2];
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0 || pipe(go) != 0 || pipe(done) != 0) {
        std::perror("openpty/pipe");
        return result;
    }
    termios raw{};
    tcgetattr(slave, &raw);
    cfmakeraw(&raw);
    tcsetattr(slave, TCSANOW, &raw);
    ::close(slave);

    const pid_t child = fork();
    if (child == 0) {
        ::close(go[1]);
        ::close(done[1]);
        runInstrument(master, go[0], done[0], samples, paced);
    }
    ::close(master);
    ::close(go[0]);
    ::close(done[0]);

    QCoreApplication app(argc, argv);
    AbstractSerial serial;
    serial.setDeviceName(QString::fromLocal8Bit(name));
    if (!serial.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ||
        !serial.setBaudRate(AbstractSerial::BaudRate9600) ||
        !serial.setDataBits(AbstractSerial::DataBits8) ||
        !serial.setParity(AbstractSerial::ParityNone) ||
        !serial.setStopBits(AbstractSerial::StopBits1) ||
        !serial.setFlowControl(AbstractSerial::FlowControlOff)) {
        std::fprintf(stderr, "open %s: %s\n", name, qPrintable(serial.errorString()));
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
        return result;
    }

    const qint64 total = samples * 2;
    qint64 expected = 0;
    QElapsedTimer wall;
    QObject::connect(&serial, &QIODevice::readyRead, [&] {
        ++result.readyReads;
        char block[16];
        // Every complete block that is waiting, counted once per pass.
        for (qint64 blocks = serial.bytesAvailable() / 16; blocks > 0;
             blocks = serial.bytesAvailable() / 16) {
            for (; blocks > 0; --blocks) {
                if (serial.read(block, 16) != 16)
                    return;
                for (int k = 0; k < 16; k += 2) {
                    char want[2];
                    sampleBytes(expected++, want);
                    if (block[k] != want[0] || block[k + 1] != want[1])
                        ++result.errors;
                }
                result.bytes += 16;
            }
            if (result.bytes >= total - total % 16) {
                app.quit();
                return;
            }
        }
    });
    QTimer::singleShot(timeoutMs, &app, &QCoreApplication::quit);

    const double cpuBefore = cpuSeconds();
    wall.start();
    if (::write(go[1], "g", 1) != 1)
        std::perror("go");
    app.exec();
    result.wallSeconds = wall.nsecsElapsed() / 1e9;
    result.cpu = cpuSeconds() - cpuBefore;
    result.complete = result.bytes == total - total % 16;

    serial.close();
    ::close(done[1]);
    ::close(go[1]);
    waitpid(child, nullptr, 0);
    return result;
}

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--samples")) {
            options.samples = std::atoll(argv[i + 1]);
        } else if (!std::strcmp(argv[i], "--duration")) {
            options.durationSeconds = std::atoi(argv[i + 1]);
        } else if (!std::strcmp(argv[i], "--mode")) {
            options.throughput = std::strcmp(argv[i + 1], "rate") != 0;
            options.rate = std::strcmp(argv[i + 1], "throughput") != 0;
        }
    }
    return options;
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    bool ok = true;

    if (options.throughput) {
        const Result r = runOnce(argc, argv, options.samples, false, 120000);
        const double rate = r.bytes / r.wallSeconds;
        std::printf(
            "throughput: %lld samples (%lld bytes) in %.3f s = %.2f MB/s, "
            "%lld readyRead, reader CPU %.3f s (%.0f %% of one core), "
            "%s, %lld samples out of order\n",
            static_cast<long long>(options.samples), static_cast<long long>(r.bytes), r.wallSeconds,
            rate / 1e6, static_cast<long long>(r.readyReads), r.cpu, 100.0 * r.cpu / r.wallSeconds,
            r.complete ? "all bytes arrived" : "BYTES MISSING", static_cast<long long>(r.errors));
        ok = ok && r.complete && r.errors == 0 && rate >= 10e6;
    }
    if (options.rate) {
        const qint64 samples = qint64(options.durationSeconds) * 100;
        const Result r = runOnce(argc, argv, samples, true, options.durationSeconds * 1000 + 5000);
        std::printf("real rate: %lld samples at 100 Hz in %.2f s, %lld readyRead, "
                    "reader CPU %.3f s = %.3f %% of one core, %s, %lld samples out of order\n",
                    static_cast<long long>(samples), r.wallSeconds,
                    static_cast<long long>(r.readyReads), r.cpu, 100.0 * r.cpu / r.wallSeconds,
                    r.complete ? "all bytes arrived" : "BYTES MISSING",
                    static_cast<long long>(r.errors));
        ok = ok && r.complete && r.errors == 0 && r.cpu / r.wallSeconds < 0.01;
    }
    std::printf("%s\n", ok ? "targets met" : "TARGETS MISSED");
    return ok ? 0 : 1;
}
