// Pushes the instrument's stream through a pseudo-terminal and reads it the way
// the acquisition worker does, with an unbuffered AbstractSerial, beside a plain
// reader written here (the slave opened by hand, one read into a large buffer per
// notification, no serial layer) as the limit of what the terminal gives.
//
//   serial_read_bench [--samples N] [--rounds R] [--duration SECONDS]
//                     [--mode compare|rate|both]
//
// compare: R rounds on one terminal, each round running, one after the other,
// the serial layer and the plain reader on the same stream of N samples, in two
// read patterns: one 16-byte block per read() call as long as a whole block
// waits, and every whole block waiting in one read() call. Prints MB/s, the
// reader's CPU and the ratio of the two readers per pattern.
// rate: the instrument's real pace (100 samples/s) for SECONDS, and the reading
// process's CPU share.
//
// The instrument runs in a child process, so the CPU figures are the reader's alone.

#include "AbstractSerial.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <pty.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

const int blockSize = 16;
const int plainBufferSize = 64 * 1024;

struct Options
{
    qint64 samples = 2000000;
    int rounds = 5;
    int durationSeconds = 30;
    bool compare = true;
    bool rate = true;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// All `size` bytes through `io` (::read or ::write), restarted after a signal;
// false at an error or the end of the file.
template <typename Io, typename Byte>
bool transferAll(Io io, int fd, Byte* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = io(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

bool writeAll(int fd, const char* data, size_t size)
{
    return transferAll(::write, fd, data, size);
}

// Sample i of the stream: a 16-bit little-endian counter, so a lost, repeated or
// swapped block shows at once.
void sampleBytes(qint64 i, char* out)
{
    out[0] = char(i & 0xff);
    out[1] = char((i >> 8) & 0xff);
}

// The instrument. For each request read from `commands` (a sample count and
// whether to keep the instrument's pace of 100 samples/s) it writes that many
// samples, counting from 0, as fast as the terminal takes them or 2 bytes every
// 10 ms. It keeps the master open until the reader is done (`commands` closes),
// since closing it would hang the reader's port up and discard unread bytes.
[[noreturn]] void runInstrument(int master, int commands)
{
    static char chunk[65536];
    struct Request
    {
        qint64 samples;
        qint64 paced;
    } request{};
    while (transferAll(::read, commands, reinterpret_cast<char*>(&request), sizeof request)) {
        if (request.paced) {
            timespec next{};
            clock_gettime(CLOCK_MONOTONIC, &next);
            for (qint64 i = 0; i < request.samples; ++i) {
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
            continue;
        }
        qint64 i = 0;
        while (i < request.samples) {
            const qint64 count = qMin<qint64>(request.samples - i, sizeof chunk / 2);
            for (qint64 k = 0; k < count; ++k)
                sampleBytes(i + k, chunk + 2 * k);
            if (!writeAll(master, chunk, size_t(count * 2)))
                _exit(1);
            i += count;
        }
    }
    _exit(0);
}

// What a reader got and did.
struct Counts
{
    qint64 bytes = 0;
    qint64 errors = 0;
    qint64 notices = 0;
    qint64 readCalls = 0;
};

// The reader's end: checks every block against the stream and says when all
// expected bytes are in.
struct Tally : Counts
{
    qint64 expectedBytes = 0;
    qint64 nextSample = 0;

    void check(const char* data, qint64 size)
    {
        for (qint64 k = 0; k + 1 < size; k += 2) {
            char want[2];
            sampleBytes(nextSample++, want);
            if (data[k] != want[0] || data[k + 1] != want[1])
                ++errors;
        }
        bytes += size;
    }
    bool done() const { return bytes >= expectedBytes; }
};

enum class Pattern { OneBlockPerCall, AllBlocksInOneCall };
enum class Reader { SerialLayer, Plain };

struct Result : Counts
{
    double wallSeconds = 0;
    double cpu = 0;
    bool complete = false;

    double rate() const { return bytes / wallSeconds; }
    void add(const Result& r)
    {
        bytes += r.bytes;
        errors += r.errors;
        notices += r.notices;
        readCalls += r.readCalls;
        wallSeconds += r.wallSeconds;
        cpu += r.cpu;
        complete = complete && r.complete;
    }
};

class Bench
{
public:
    bool start()
    {
        char name[128] = {};
        int slave = -1;
        int pipeEnds[2];
        if (openpty(&master, &slave, name, nullptr, nullptr) != 0 || pipe(pipeEnds) != 0) {
            std::perror("openpty/pipe");
            return false;
        }
        termios raw{};
        tcgetattr(slave, &raw);
        cfmakeraw(&raw);
        tcsetattr(slave, TCSANOW, &raw);
        // The parent keeps no descriptor of the slave: each reader opens it.
        ::close(slave);
        slaveName = QString::fromLocal8Bit(name);
        child = fork();
        if (child == 0) {
            ::close(pipeEnds[1]);
            runInstrument(master, pipeEnds[0]);
        }
        ::close(pipeEnds[0]);
        commands = pipeEnds[1];
        return child > 0;
    }

    void stop()
    {
        ::close(commands);
        waitpid(child, nullptr, 0);
        ::close(master);
    }

    Result run(Reader reader, Pattern pattern, qint64 samples, bool paced, int timeoutMs)
    {
        return reader == Reader::SerialLayer ? runSerial(pattern, samples, paced, timeoutMs)
                                             : runPlain(pattern, samples, timeoutMs);
    }

private:
    void request(qint64 samples, bool paced)
    {
        const qint64 words[2] = {samples, paced ? 1 : 0};
        if (!writeAll(commands, reinterpret_cast<const char*>(words), sizeof words))
            std::perror("instrument request");
    }

    // Starts the instrument, runs the loop until the tally is complete or the
    // time is out, and measures.
    Result measure(Tally& tally, qint64 samples, bool paced, int timeoutMs)
    {
        tally.expectedBytes = samples * 2;
        QEventLoop loop;
        quit = [&loop] { loop.quit(); };
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        const double cpuBefore = cpuSeconds();
        QElapsedTimer wall;
        wall.start();
        request(samples, paced);
        loop.exec();
        Result r;
        static_cast<Counts&>(r) = tally;
        r.wallSeconds = wall.nsecsElapsed() / 1e9;
        r.cpu = cpuSeconds() - cpuBefore;
        r.complete = tally.done();
        quit = nullptr;
        return r;
    }

    Result runSerial(Pattern pattern, qint64 samples, bool paced, int timeoutMs)
    {
        AbstractSerial serial;
        serial.setDeviceName(slaveName);
        if (!serial.open(QIODevice::ReadOnly | QIODevice::Unbuffered) ||
            !serial.setBaudRate(AbstractSerial::BaudRate9600) ||
            !serial.setDataBits(AbstractSerial::DataBits8) ||
            !serial.setParity(AbstractSerial::ParityNone) ||
            !serial.setStopBits(AbstractSerial::StopBits1) ||
            !serial.setFlowControl(AbstractSerial::FlowControlOff)) {
            std::fprintf(stderr, "open %s: %s\n", qPrintable(slaveName),
                         qPrintable(serial.errorString()));
            return Result();
        }
        // The worker's setting: a read may wait 100 ms for the rest of its block.
        serial.setTotalReadTimeout(100);
        Tally tally;
        std::vector<char> buffer(1 << 20);
        QObject::connect(&serial, &QIODevice::readyRead, [&] {
            ++tally.notices;
            for (qint64 blocks = serial.bytesAvailable() / blockSize; blocks > 0;
                 blocks = serial.bytesAvailable() / blockSize) {
                if (pattern == Pattern::OneBlockPerCall) {
                    for (; blocks > 0; --blocks) {
                        ++tally.readCalls;
                        if (serial.read(buffer.data(), blockSize) != blockSize)
                            return;
                        tally.check(buffer.data(), blockSize);
                    }
                } else {
                    // The buffer holds a whole number of blocks.
                    const qint64 size = qMin<qint64>(blocks * blockSize, qint64(buffer.size()));
                    ++tally.readCalls;
                    const qint64 got = serial.read(buffer.data(), size);
                    if (got != size)
                        return;
                    tally.check(buffer.data(), got);
                }
                if (tally.done()) {
                    quit();
                    return;
                }
            }
        });
        const Result r = measure(tally, samples, paced, timeoutMs);
        serial.close();
        return r;
    }

    Result runPlain(Pattern pattern, qint64 samples, int timeoutMs)
    {
        const int fd =
            ::open(slaveName.toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            std::perror("open slave");
            return Result();
        }
        Tally tally;
        std::vector<char> buffer(plainBufferSize);
        qint64 held = 0;
        QSocketNotifier notifier(fd, QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
            ++tally.notices;
            const ssize_t n = ::read(fd, buffer.data() + held, size_t(plainBufferSize - held));
            if (n <= 0)
                return;
            held += n;
            qint64 used = 0;
            if (pattern == Pattern::OneBlockPerCall) {
                char block[blockSize];
                for (; held - used >= blockSize; used += blockSize) {
                    ++tally.readCalls;
                    std::memcpy(block, buffer.data() + used, blockSize);
                    tally.check(block, blockSize);
                }
            } else {
                used = (held / blockSize) * blockSize;
                ++tally.readCalls;
                tally.check(buffer.data(), used);
            }
            std::memmove(buffer.data(), buffer.data() + used, size_t(held - used));
            held -= used;
            if (tally.done())
                quit();
        });
        const Result r = measure(tally, samples, false, timeoutMs);
        notifier.setEnabled(false);
        ::close(fd);
        return r;
    }

    int master = -1;
    int commands = -1;
    pid_t child = -1;
    QString slaveName;
    std::function<void()> quit;
};

Options parse(int argc, char** argv)
{
    Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--samples")) {
            // Whole blocks only, so that every round leaves the line empty.
            options.samples = std::max<qint64>(8, std::atoll(argv[i + 1]) / 8 * 8);
        } else if (!std::strcmp(argv[i], "--rounds")) {
            options.rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (!std::strcmp(argv[i], "--duration")) {
            options.durationSeconds = std::atoi(argv[i + 1]);
        } else if (!std::strcmp(argv[i], "--mode")) {
            options.compare = std::strcmp(argv[i + 1], "rate") != 0;
            options.rate = std::strcmp(argv[i + 1], "compare") != 0;
        }
    }
    return options;
}

void printResult(const char* reader, const char* pattern, const Result& r)
{
    std::printf("  %-12s %-22s %8.2f MB/s  reader CPU %5.1f %% of one core = %5.2f ms per MB  "
                "%7lld notifications  %8lld read calls  %s, %lld samples out of order\n",
                reader, pattern, r.rate() / 1e6, 100.0 * r.cpu / r.wallSeconds,
                1000.0 * r.cpu / (r.bytes / 1e6), static_cast<long long>(r.notices),
                static_cast<long long>(r.readCalls), r.complete ? "all bytes" : "BYTES MISSING",
                static_cast<long long>(r.errors));
}

} // namespace

int main(int argc, char** argv)
{
    const Options options = parse(argc, argv);
    QCoreApplication app(argc, argv);
    Bench bench;
    if (!bench.start())
        return 1;
    bool ok = true;

    if (options.compare) {
        const Pattern patterns[] = {Pattern::OneBlockPerCall, Pattern::AllBlocksInOneCall};
        const char* const patternNames[] = {"one block per read", "all blocks in one read"};
        Result totals[2][2];
        std::vector<double> roundRatios[2];
        for (auto& perPattern : totals)
            for (Result& r : perPattern)
                r.complete = true;
        // Alternately, so that a change in the machine's load touches both readers.
        for (int round = 0; round < options.rounds; ++round) {
            for (int p = 0; p < 2; ++p) {
                const Result ours =
                    bench.run(Reader::SerialLayer, patterns[p], options.samples, false, 120000);
                const Result plain =
                    bench.run(Reader::Plain, patterns[p], options.samples, false, 120000);
                totals[p][0].add(ours);
                totals[p][1].add(plain);
                roundRatios[p].push_back(ours.rate() / plain.rate());
            }
        }
        std::printf("compare: %d rounds of %lld samples (%lld bytes) per reader and pattern\n",
                    options.rounds, static_cast<long long>(options.samples),
                    static_cast<long long>(options.samples * 2));
        for (int p = 0; p < 2; ++p) {
            const Result& ours = totals[p][0];
            const Result& plain = totals[p][1];
            printResult("serial layer", patternNames[p], ours);
            printResult("plain reader", patternNames[p], plain);
            const double ratio = ours.rate() / plain.rate();
            std::vector<double>& ratios = roundRatios[p];
            std::sort(ratios.begin(), ratios.end());
            const double median =
                ratios.size() % 2 ? ratios[ratios.size() / 2]
                                  : (ratios[ratios.size() / 2 - 1] + ratios[ratios.size() / 2]) / 2;
            std::printf("  ratio serial layer / plain reader, %s: %.2f over the run, "
                        "median of the rounds %.2f (%.2f to %.2f)\n",
                        patternNames[p], ratio, median, ratios.front(), ratios.back());
            ok = ok && ours.complete && plain.complete && ours.errors == 0 && plain.errors == 0 &&
                 ratio >= 0.9;
        }
    }
    if (options.rate) {
        const qint64 samples = qint64(options.durationSeconds) * 100 / 8 * 8;
        const Result r = bench.run(Reader::SerialLayer, Pattern::OneBlockPerCall, samples, true,
                                   options.durationSeconds * 1000 + 5000);
        std::printf("real rate: %lld samples at 100 Hz in %.2f s, %lld readyRead, "
                    "reader CPU %.3f s = %.3f %% of one core, %s, %lld samples out of order\n",
                    static_cast<long long>(samples), r.wallSeconds,
                    static_cast<long long>(r.notices), r.cpu, 100.0 * r.cpu / r.wallSeconds,
                    r.complete ? "all bytes arrived" : "BYTES MISSING",
                    static_cast<long long>(r.errors));
        ok = ok && r.complete && r.errors == 0 && r.cpu / r.wallSeconds < 0.01;
    }
    bench.stop();
    std::printf("%s\n", ok ? "targets met" : "TARGETS MISSED");
    return ok ? 0 : 1;
}
