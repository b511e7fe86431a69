// Instrument simulator: streams the analyser's byte stream (unsigned 16-bit
// samples, least significant byte first) on a new pseudo-terminal or on a serial
// device, so that the station can be run and tested without the instrument.
//
// The samples follow an O2 trace of breathing: a smoothed square wave between
// about 48 and 62 (after the station's x 250 / 65536 scaling) plus a little
// noise from a seeded generator, so that one seed always gives the same samples.

#include <QByteArray>
#include <QString>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

volatile sig_atomic_t stopRequested = 0;

void onSignal(int)
{
    stopRequested = 1;
}

struct Options
{
    double rate = 100.0;
    double period = 4.0;
    long long count = -1; // -1: until stopped
    long bytesPerWrite = 16;
    bool fast = false;
    std::uint64_t seed = 1;
    std::string dumpPath;
    bool dumpOnly = false;
    bool waitReader = true;
    bool serveAgain = false;
    long startDelayMs = 200;
    std::string device;
};

void usage(const char* program, std::FILE* out)
{
    std::fprintf(out,
                 "Utilisation : %s [options] [PÉRIPHÉRIQUE]\n"
                 "Joue l'analyseur de gaz respiratoires : envoie des échantillons de 16 bits non\n"
                 "signés, octet de poids faible en premier, sur un nouveau pseudo-terminal (le\n"
                 "chemin de son esclave est écrit sur la sortie standard) ou sur PÉRIPHÉRIQUE.\n"
                 "\n"
                 "  -r, --rate N          échantillons par seconde (100 par défaut)\n"
                 "  -p, --period S        période respiratoire en secondes (4 par défaut)\n"
                 "  -n, --count N         s'arrête après N échantillons (par défaut : à SIGINT ou\n"
                 "                        SIGTERM)\n"
                 "  -b, --bytes N         octets par écriture, 1 ou plus (16 par défaut)\n"
                 "  -f, --fast            écrit aussi vite que le lecteur prend les octets\n"
                 "  -s, --seed N          graine du bruit (1 par défaut) ; même graine, mêmes\n"
                 "                        échantillons\n"
                 "  -d, --dump FICHIER    écrit aussi dans FICHIER les lignes de capture que la\n"
                 "                        station doit enregistrer pour ces échantillons\n"
                 "                        (\"0;valeur;0\" CR LF)\n"
                 "      --dump-only       écrit ces lignes et s'arrête, sans périphérique de\n"
                 "                        sortie\n"
                 "      --serve           sur un pseudo-terminal, recommence pour le lecteur\n"
                 "                        suivant chaque fois qu'un lecteur ferme l'esclave,\n"
                 "                        jusqu'à l'arrêt\n"
                 "      --no-wait         sur un pseudo-terminal, envoie tout de suite au lieu\n"
                 "                        d'attendre qu'un lecteur ouvre l'esclave\n"
                 "      --start-delay MS  attend MS millisecondes après l'ouverture de\n"
                 "                        l'esclave par le lecteur, le temps qu'il règle la\n"
                 "                        ligne (200 par défaut)\n"
                 "  -h, --help            cette aide\n"
                 "  -v, --version         la version\n"
                 "\n"
                 "Sur un pseudo-terminal, le simulateur s'arrête quand le lecteur ferme l'esclave\n"
                 "après le dernier échantillon, ou à la réception de SIGINT ou SIGTERM.\n",
                 program);
}

bool parseNumber(const char* text, double& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text, &end);
    return errno == 0 && end != text && *end == '\0' && std::isfinite(value);
}

bool parseInteger(const char* text, long long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoll(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

// Returns 0 on success, 1 on a usage error, 2 when help was asked for, 3 for
// the version.
int parseOptions(int argc, char** argv, Options& options)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto needValue = [&](const char*& value) {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "simulateur : %s attend une valeur\n", arg.c_str());
                return false;
            }
            value = argv[++i];
            return true;
        };
        const char* value = nullptr;
        long long integer = 0;
        double number = 0;
        if (arg == "-h" || arg == "--help") {
            return 2;
        } else if (arg == "-v" || arg == "--version") {
            return 3;
        } else if (arg == "-f" || arg == "--fast") {
            options.fast = true;
        } else if (arg == "--dump-only") {
            options.dumpOnly = true;
        } else if (arg == "--serve") {
            options.serveAgain = true;
        } else if (arg == "--no-wait") {
            options.waitReader = false;
        } else if (arg == "-r" || arg == "--rate") {
            if (!needValue(value) || !parseNumber(value, number) || number <= 0)
                return 1;
            options.rate = number;
        } else if (arg == "-p" || arg == "--period") {
            if (!needValue(value) || !parseNumber(value, number) || number <= 0)
                return 1;
            options.period = number;
        } else if (arg == "-n" || arg == "--count") {
            if (!needValue(value) || !parseInteger(value, integer) || integer < 0)
                return 1;
            options.count = integer;
        } else if (arg == "-b" || arg == "--bytes") {
            if (!needValue(value) || !parseInteger(value, integer) || integer < 1 ||
                integer > (1 << 20))
                return 1;
            options.bytesPerWrite = static_cast<long>(integer);
        } else if (arg == "-s" || arg == "--seed") {
            if (!needValue(value) || !parseInteger(value, integer))
                return 1;
            options.seed = static_cast<std::uint64_t>(integer);
        } else if (arg == "-d" || arg == "--dump") {
            if (!needValue(value))
                return 1;
            options.dumpPath = value;
        } else if (arg == "--start-delay") {
            if (!needValue(value) || !parseInteger(value, integer) || integer < 0)
                return 1;
            options.startDelayMs = static_cast<long>(integer);
        } else if (!arg.empty() && arg[0] == '-') {
            std::fprintf(stderr, "simulateur : option inconnue %s\n", arg.c_str());
            return 1;
        } else if (options.device.empty()) {
            options.device = arg;
        } else {
            std::fprintf(stderr, "simulateur : un seul périphérique à la fois\n");
            return 1;
        }
    }
    if (options.dumpOnly && (options.dumpPath.empty() || options.count < 0)) {
        std::fprintf(stderr, "simulateur : --dump-only demande --dump et --count\n");
        return 1;
    }
    return 0;
}

// The breathing trace, sample by sample. Sample i depends only on i, the rate,
// the period and the seed, never on the pacing.
class Trace
{
public:
    Trace(double samplesPerSecond, double breathingPeriod, std::uint64_t seed)
        : rate(samplesPerSecond), period(breathingPeriod), state(seed ^ 0x9E3779B97F4A7C15ULL)
    {
    }

    std::uint16_t next()
    {
        const double t = static_cast<double>(index++) / rate;
        // Inspired air is rich in O2, expired air poorer: a square-ish wave with
        // soft edges, centred on 55 with a swing of +-7, and +-0.4 of noise.
        const double phase = std::sin(2.0 * M_PI * t / period);
        const double shape = std::tanh(3.0 * phase) / std::tanh(3.0);
        const double noise = 0.4 * (uniform() + uniform() - 1.0);
        const double value = 55.0 + 7.0 * shape + noise;
        const double raw = std::round(value * 65536.0 / 250.0);
        return static_cast<std::uint16_t>(std::fmin(std::fmax(raw, 0.0), 65535.0));
    }

private:
    // splitmix64: small, fast and the same on every platform.
    double uniform()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        z ^= z >> 31;
        return static_cast<double>(z >> 11) / 9007199254740992.0;
    }

    double rate;
    double period;
    std::uint64_t state;
    std::uint64_t index = 0;
};

// The line the station records for a sample: "0;value;0" CR LF with the value
// in the shortest form of 6 significant digits. Qt's formatting is used, as the
// station's: it rounds exact ties (0.9765625) up where printf rounds to even.
void writeCaptureLine(std::FILE* file, std::uint16_t raw)
{
    const QByteArray value = QString::number(raw * 250.0 / 65536.0, 'g', 6).toLatin1();
    std::fprintf(file, "0;%s;0\r\n", value.constData());
}

double now()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Sleeps until the monotonic time `when`; false if a stop was requested.
bool sleepUntil(double when)
{
    while (!stopRequested) {
        const double left = when - now();
        if (left <= 0)
            return true;
        timespec ts{};
        ts.tv_sec = static_cast<time_t>(left);
        ts.tv_nsec = static_cast<long>((left - static_cast<double>(ts.tv_sec)) * 1e9);
        nanosleep(&ts, nullptr); // EINTR: loop and look at the stop flag
    }
    return false;
}

// True while nobody has the slave side of the pseudo-terminal open: the master
// then reports a hang-up.
bool slaveClosed(int master)
{
    pollfd p{master, POLLIN, 0};
    int r;
    do {
        r = poll(&p, 1, 0);
    } while (r < 0 && errno == EINTR && !stopRequested);
    return r > 0 && (p.revents & POLLHUP);
}

bool waitForReader(int master, long delayMs)
{
    while (!stopRequested && slaveClosed(master))
        usleep(5000);
    if (stopRequested)
        return false;
    return sleepUntil(now() + static_cast<double>(delayMs) / 1000.0);
}

// Writes as much as possible, waiting for room when the reader is slower; stops
// when the other side hangs up (the reader closed the slave) or on a signal.
// Returns the number of bytes written.
size_t writeAll(int fd, const unsigned char* data, size_t size)
{
    size_t done = 0;
    while (done < size && !stopRequested) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN) {
                pollfd p{fd, POLLOUT, 0};
                if (poll(&p, 1, 100) > 0 && (p.revents & (POLLHUP | POLLERR))) {
                    std::fprintf(stderr, "simulateur : le lecteur est parti\n");
                    break;
                }
                continue;
            }
            std::fprintf(stderr, "simulateur : écriture : %s\n", std::strerror(errno));
            break;
        }
        done += static_cast<size_t>(n);
    }
    return done;
}

// Opens a new pseudo-terminal and returns its master, non-blocking. With
// keptSlave, a slave descriptor stays open in *keptSlave so that bytes written
// before any reader comes are kept for it.
int openPseudoTerminal(std::string& slavePath, int* keptSlave)
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        std::fprintf(stderr, "simulateur : posix_openpt : %s\n", std::strerror(errno));
        return -1;
    }
    char name[256];
    if (grantpt(master) != 0 || unlockpt(master) != 0 ||
        ptsname_r(master, name, sizeof name) != 0) {
        std::fprintf(stderr, "simulateur : préparation du pseudo-terminal : %s\n",
                     std::strerror(errno));
        close(master);
        return -1;
    }
    slavePath = name;
    // Raw mode on the slave so that the line discipline neither echoes nor
    // translates bytes; the setting lives as long as the master is open.
    const int slave = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        std::fprintf(stderr, "simulateur : ouverture de %s : %s\n", name, std::strerror(errno));
        close(master);
        return -1;
    }
    termios settings{};
    if (tcgetattr(slave, &settings) == 0) {
        cfmakeraw(&settings);
        tcsetattr(slave, TCSANOW, &settings);
    }
    if (keptSlave)
        *keptSlave = slave;
    else
        close(slave);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    return master;
}

int openDevice(const std::string& path)
{
    const int fd = open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        std::fprintf(stderr, "simulateur : ouverture de %s : %s\n", path.c_str(),
                     std::strerror(errno));
        return -1;
    }
    termios settings{};
    if (tcgetattr(fd, &settings) == 0) {
        // The instrument's line: 9600 baud, 8 data bits, no parity, 1 stop bit.
        cfmakeraw(&settings);
        cfsetispeed(&settings, B9600);
        cfsetospeed(&settings, B9600);
        settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS);
        settings.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd, TCSANOW, &settings);
    }
    return fd;
}

int dumpOnly(const Options& options, std::FILE* dump)
{
    Trace trace(options.rate, options.period, options.seed);
    for (long long i = 0; i < options.count; ++i)
        writeCaptureLine(dump, trace.next());
    return std::fclose(dump) == 0 ? 0 : 1;
}

// Streams the samples; returns the number of samples wholly written. The dump
// receives a line for each sample once its two bytes have been written.
long long stream(int fd, const Options& options, std::FILE* dump, bool pseudoTerminal)
{
    Trace trace(options.rate, options.period, options.seed);
    std::deque<unsigned char> pending;  // bytes generated, not yet written
    std::deque<std::uint16_t> undumped; // samples generated, not yet wholly written
    std::vector<unsigned char> chunkBytes;
    const size_t chunk = static_cast<size_t>(options.bytesPerWrite);
    long long generated = 0;
    long long bytesSent = 0;
    const double start = now();
    while (!stopRequested) {
        while (pending.size() < chunk && (options.count < 0 || generated < options.count)) {
            const std::uint16_t raw = trace.next();
            pending.push_back(static_cast<unsigned char>(raw & 0xFF));
            pending.push_back(static_cast<unsigned char>(raw >> 8));
            undumped.push_back(raw);
            ++generated;
        }
        if (pending.empty())
            break;
        // A reader that closed the slave takes nothing more from this stream.
        if (pseudoTerminal && slaveClosed(fd))
            break;
        const size_t size = pending.size() < chunk ? pending.size() : chunk;
        if (!options.fast) {
            // A chunk leaves when the last sample it touches is due.
            const double due =
                std::ceil(static_cast<double>(bytesSent + static_cast<long long>(size)) / 2.0) /
                options.rate;
            if (!sleepUntil(start + due))
                break;
        }
        chunkBytes.assign(pending.begin(), pending.begin() + static_cast<long>(size));
        const size_t written = writeAll(fd, chunkBytes.data(), size);
        bytesSent += static_cast<long long>(written);
        pending.erase(pending.begin(), pending.begin() + static_cast<long>(written));
        while (!undumped.empty() &&
               generated - static_cast<long long>(undumped.size()) < bytesSent / 2) {
            if (dump)
                writeCaptureLine(dump, undumped.front());
            undumped.pop_front();
        }
        if (written < size)
            break;
    }
    return bytesSent / 2;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    const int parsed = parseOptions(argc, argv, options);
    if (parsed == 3) {
        std::printf("simulateur %s\n", STATION_VERSION);
        return 0;
    }
    if (parsed != 0) {
        // Asked for, the help is the program's output; after a mistake, a message.
        usage("simulateur", parsed == 2 ? stdout : stderr);
        return parsed == 2 ? 0 : 1;
    }

    struct sigaction action
    {
    };
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: a blocked write or sleep returns EINTR
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::FILE* dump = nullptr;
    if (!options.dumpPath.empty()) {
        dump = options.dumpPath == "-" ? stdout : std::fopen(options.dumpPath.c_str(), "wb");
        if (!dump) {
            std::fprintf(stderr, "simulateur : écriture de %s impossible : %s\n",
                         options.dumpPath.c_str(), std::strerror(errno));
            return 1;
        }
    }
    if (options.dumpOnly)
        return dumpOnly(options, dump);

    const bool pseudoTerminal = options.device.empty();
    std::string slavePath;
    int keptSlave = -1;
    const int fd = pseudoTerminal
                       ? openPseudoTerminal(slavePath, options.waitReader ? nullptr : &keptSlave)
                       : openDevice(options.device);
    if (fd < 0)
        return 1;
    if (pseudoTerminal) {
        std::printf("%s\n", slavePath.c_str());
        std::fflush(stdout);
        if (options.waitReader && !waitForReader(fd, options.startDelayMs)) {
            close(fd);
            return 0;
        }
    }

    long long sent = stream(fd, options, dump, pseudoTerminal);
    // Serving: each new reader (a new capture in the station) gets a new stream.
    while (options.serveAgain && pseudoTerminal && keptSlave < 0 && !stopRequested) {
        while (!stopRequested && !slaveClosed(fd))
            usleep(10000);
        if (!waitForReader(fd, options.startDelayMs))
            break;
        sent += stream(fd, options, nullptr, true);
    }
    if (dump && dump != stdout)
        std::fclose(dump);

    if (!pseudoTerminal) {
        tcdrain(fd);
    } else if (!stopRequested) {
        // Closing the master would hang up the slave before the reader has taken
        // the last bytes: hold it until the reader closes the slave (or, when we
        // keep a slave open ourselves, until we are stopped).
        while (!stopRequested && (keptSlave >= 0 || !slaveClosed(fd)))
            usleep(10000);
    }
    if (keptSlave >= 0)
        close(keptSlave);
    close(fd);
    std::fprintf(stderr, "simulateur : %lld échantillons envoyés\n", sent);
    return 0;
}
