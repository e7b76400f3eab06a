// Load generator and report: runs the receiver ("-debug", a host root of its
// own) and the bare baseline receiver, sends RFC 3164 lines to 127.0.0.1:514
// paced or in bursts, waits until nothing more arrives, and counts what came
// out. Prints the figures and writes them, with a plot, to the output folder.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <spawn.h>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int syslogPort = 514;
constexpr int pollPort = 5514; // the bare poll loop needs a socket, not port 514

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

[[noreturn]] void Die(const std::string& why) {
    std::fprintf(stderr, "relay_bench: %s\n", why.c_str());
    std::exit(1);
}

// ---- processes ------------------------------------------------------------

struct Process {
    pid_t pid = -1;
    std::string name;
};

Process Spawn(const std::string& name, const std::vector<std::string>& argv, const std::string& hostRoot,
              const std::string& output) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QUARNEL_HOST_ROOT=", 18) != 0)
            env.emplace_back(*e);
    env.push_back("QUARNEL_HOST_ROOT=" + hostRoot);
    std::vector<char*> args, envp;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (auto& e : env)
        envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t all, none;
    sigfillset(&all);
    sigemptyset(&none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    Process p;
    p.name = name;
    if (posix_spawn(&p.pid, args[0], &actions, &attributes, args.data(), envp.data()) != 0)
        Die("cannot start " + argv[0]);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return p;
}

// Sends SIGINT and waits; the time from the signal to the exit, or a negative
// number when it had to be killed.
double Stop(Process& p, double limitSeconds = 10) {
    auto sent = Clock::now();
    ::kill(p.pid, SIGINT);
    int status = 0;
    for (;;) {
        pid_t done = ::waitpid(p.pid, &status, WNOHANG);
        if (done == p.pid)
            break;
        if (Seconds(Clock::now() - sent) > limitSeconds) {
            ::kill(p.pid, SIGKILL);
            ::waitpid(p.pid, &status, 0);
            p.pid = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    }
    double took = Seconds(Clock::now() - sent);
    p.pid = -1;
    return took;
}

// CPU time of every thread of the process, from the scheduler's own count.
double CpuSeconds(pid_t pid) {
    double total = 0;
    std::string dir = "/proc/" + std::to_string(pid) + "/task";
    if (DIR* tasks = ::opendir(dir.c_str())) {
        while (dirent* t = ::readdir(tasks)) {
            if (t->d_name[0] == '.')
                continue;
            std::ifstream stat(dir + "/" + t->d_name + "/schedstat");
            unsigned long long ns = 0;
            if (stat >> ns)
                total += ns / 1e9;
        }
        ::closedir(tasks);
    }
    return total;
}

double PeakMemoryMiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    return 0;
}

// The bound UDP socket on `port`: its receive queue in bytes and the datagrams
// it has dropped, from the kernel's table; nullopt when nothing is bound.
struct SocketState {
    bool bound = false;
    long queued = 0;
    long drops = 0;
};

SocketState UdpSocket(int port) {
    SocketState state;
    std::ifstream table("/proc/net/udp");
    std::string line;
    std::getline(table, line);
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(table, line)) {
        std::istringstream fields(line);
        std::string slot, local, remote, st, queues;
        fields >> slot >> local >> remote >> st >> queues;
        if (local.size() < 5 || local.compare(local.size() - 5, 5, wanted) != 0)
            continue;
        state.bound = true;
        state.queued = std::strtol(queues.c_str() + queues.find(':') + 1, nullptr, 16);
        std::string field;
        std::vector<std::string> rest;
        while (fields >> field)
            rest.push_back(field);
        if (!rest.empty())
            state.drops = std::atol(rest.back().c_str());
    }
    return state;
}

bool WaitBound(int port, double limitSeconds = 10) {
    auto start = Clock::now();
    while (!UdpSocket(port).bound) {
        if (Seconds(Clock::now() - start) > limitSeconds)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// ---- messages ---------------------------------------------------------------

// An RFC 3164 line of exactly `size` bytes with its sequence number in it.
std::string Message(int size, long seq) {
    int priority = static_cast<int>((seq % 24) * 8 + seq % 8);
    char head[160];
    int n = std::snprintf(head, sizeof head,
                          "<%d>Oct 11 22:14:15 host23 sshd[4242]: seq=%08ld Failed password for admin "
                          "from 10.0.0.1 port 52344 ssh2",
                          priority, seq);
    std::string text(head, n);
    text.resize(static_cast<size_t>(size), '.');
    return text;
}

std::string ExpectedEntry(int size, long seq) {
    std::string m = Message(size, seq);
    return m.substr(m.find('>') + 1);
}

class Sender {
public:
    Sender() {
        fd = ::socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(syslogPort);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0)
            Die("connect");
    }
    ~Sender() { ::close(fd); }

    // Sends `count` datagrams at `rate` per second (0: as fast as it can);
    // returns the seconds it took.
    double Send(int size, long firstSeq, long count, double rate) {
        std::vector<std::string> messages;
        messages.reserve(count);
        for (long i = 0; i < count; ++i)
            messages.push_back(Message(size, firstSeq + i));
        auto start = Clock::now();
        for (long i = 0; i < count; ++i) {
            if (rate > 0) {
                auto due = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(i / rate));
                auto now = Clock::now();
                if (due - now > std::chrono::microseconds(100))
                    std::this_thread::sleep_until(due);
            }
            ::send(fd, messages[i].data(), messages[i].size(), 0);
        }
        return Seconds(Clock::now() - start);
    }

private:
    int fd = -1;
};

// ---- receivers --------------------------------------------------------------

// Either the system, whose entries are read back from the host event log, or
// the bare receiver, whose count is in a shared counter.
class Receiver {
public:
    Receiver(std::string kind, std::string program, fs::path work) : kind(kind), program(program), work(work) {}

    bool Ours() const { return kind == "ours"; }

    void Start() {
        fs::remove_all(work);
        fs::create_directories(work);
        if (Ours()) {
            process = Spawn(kind, {program, "-debug"}, work.string(), (work / "console.txt").string());
        } else {
            process = Spawn(kind, {program, std::to_string(syslogPort), (work / "counter").string()}, work.string(),
                            (work / "console.txt").string());
        }
        if (!WaitBound(syslogPort))
            Die(kind + " receiver did not bind port 514; see " + (work / "console.txt").string());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        logOffset = 0;
        lineScanOffset = 0;
        counted = 0;
        if (!Ours()) {
            int fd = ::open((work / "counter").c_str(), O_RDONLY);
            counter = static_cast<const long long*>(::mmap(nullptr, sizeof(long long), PROT_READ, MAP_SHARED, fd, 0));
            ::close(fd);
        }
    }

    double StopProcess() {
        double took = Stop(process);
        if (counter) {
            ::munmap(const_cast<long long*>(counter), sizeof(long long));
            counter = nullptr;
        }
        return took;
    }

    pid_t Pid() const { return process.pid; }

    // Messages written (ours: log lines, bare: datagrams received) so far.
    long Count() {
        if (!Ours())
            return static_cast<long>(__atomic_load_n(counter, __ATOMIC_RELAXED));
        std::ifstream log(LogPath(), std::ios::binary);
        if (!log)
            return counted;
        log.seekg(static_cast<std::streamoff>(lineScanOffset));
        char buffer[1 << 16];
        while (log.read(buffer, sizeof buffer) || log.gcount() > 0) {
            counted += std::count(buffer, buffer + log.gcount(), '\n');
            lineScanOffset += static_cast<size_t>(log.gcount());
        }
        return counted;
    }

    // Ours: checks the entries written since the last call against what was
    // sent; returns those that are intact and in order.
    long IntactInOrder(int size, long firstSeq, long count) {
        if (!Ours())
            return Count() - countedBefore;
        std::ifstream log(LogPath(), std::ios::binary);
        log.seekg(static_cast<std::streamoff>(logOffset));
        long good = 0, last = firstSeq - 1;
        for (std::string line; std::getline(log, line);) {
            logOffset += line.size() + 1;
            auto entry = nlohmann::json::parse(line, nullptr, false);
            if (entry.is_discarded() || !entry.contains("strings") || entry["strings"].empty())
                continue;
            std::string text = entry["strings"][0];
            auto at = text.find("seq=");
            if (at == std::string::npos)
                continue;
            long seq = std::atol(text.c_str() + at + 4);
            if (seq > last && seq < firstSeq + count && text == ExpectedEntry(size, seq)) {
                ++good;
                last = seq;
            }
        }
        return good;
    }

    void MarkCount() { countedBefore = Count(); }

    std::string kind;

private:
    fs::path LogPath() const { return work / "eventlog" / "Application.jsonl"; }

    std::string program;
    fs::path work;
    Process process;
    size_t logOffset = 0;
    size_t lineScanOffset = 0;
    long counted = 0;
    long countedBefore = 0;
    const long long* counter = nullptr;
};

struct Run {
    std::string receiver;
    int size;
    std::string mode; // "paced" or "burst"
    double offered;   // per second, as actually sent
    long sent;
    long written;
    double lossPercent;
    double entriesPerSecond;
    double cpuSeconds;
    double peakMiB;
};

// Sends one load and waits until no more entries arrive.
Run Measure(Receiver& r, Sender& sender, int size, long& nextSeq, long count, double rate) {
    r.MarkCount();
    long before = r.Count();
    double cpu0 = CpuSeconds(r.Pid());
    auto start = Clock::now();
    double sending = sender.Send(size, nextSeq, count, rate);
    // Done when the socket's queue is empty and the count has stood still.
    auto lastChange = Clock::now();
    long seen = r.Count();
    for (;;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        long now = r.Count();
        if (now != seen) {
            seen = now;
            lastChange = Clock::now();
            continue;
        }
        if (UdpSocket(syslogPort).queued == 0 && Seconds(Clock::now() - lastChange) > 0.3)
            break;
        if (Seconds(Clock::now() - lastChange) > 30)
            break;
    }
    double busy = std::max(Seconds(lastChange - start), sending);
    double cpu = CpuSeconds(r.Pid()) - cpu0;
    long good = r.IntactInOrder(size, nextSeq, count);
    (void)before;
    nextSeq += count;
    Run run{r.kind, size, rate > 0 ? "paced" : "burst", count / sending, count, good,
            100.0 * (count - good) / count, good / busy, cpu, PeakMemoryMiB(r.Pid())};
    std::printf("%-8s %5d B %-5s offered %9.0f/s sent %7ld written %7ld loss %6.2f%% %9.0f entries/s cpu %6.3f s peak "
                "%6.1f MiB\n",
                run.receiver.c_str(), size, run.mode.c_str(), run.offered, run.sent, run.written, run.lossPercent,
                run.entriesPerSecond, run.cpuSeconds, run.peakMiB);
    std::fflush(stdout);
    return run;
}

struct Series {
    std::vector<Run> steps;
    double zeroLossRate = 0; // highest paced rate with no loss
    Run atZeroLoss{};
    std::vector<Run> bursts;
    double peakMiB = 0;
};

// Steps the paced rate up by a factor of sqrt(2) until a step loses, refines
// between the last clean step and the first lossy one, goes on a little past
// it for the plot, then sends the bursts.
Series RunSeries(Receiver& r, int size, double stepSeconds, const std::vector<long>& bursts, double maxRate) {
    Sender sender;
    r.Start();
    long seq = 0;
    Series s;
    double rate = 500;
    double firstLossy = 0;
    int pastLoss = 0;
    while (rate <= maxRate && pastLoss < 3) {
        long count = std::max(1000L, static_cast<long>(rate * stepSeconds));
        Run run = Measure(r, sender, size, seq, count, rate);
        s.steps.push_back(run);
        bool senderLimited = run.offered < 0.8 * rate;
        if (run.written == run.sent && firstLossy == 0) {
            s.zeroLossRate = run.offered;
            s.atZeroLoss = run;
        } else if (firstLossy == 0) {
            firstLossy = rate;
        }
        if (firstLossy > 0)
            ++pastLoss;
        if (senderLimited)
            break;
        rate *= std::sqrt(2.0);
    }
    // Two halvings of the gap between the last clean step and the first lossy one.
    if (firstLossy > 0) {
        double low = firstLossy / std::sqrt(2.0), high = firstLossy;
        for (int i = 0; i < 2; ++i) {
            double mid = std::sqrt(low * high);
            long count = std::max(1000L, static_cast<long>(mid * stepSeconds));
            Run run = Measure(r, sender, size, seq, count, mid);
            s.steps.push_back(run);
            if (run.written == run.sent) {
                low = mid;
                if (run.offered > s.zeroLossRate) {
                    s.zeroLossRate = run.offered;
                    s.atZeroLoss = run;
                }
            } else {
                high = mid;
            }
        }
    }
    for (long count : bursts)
        s.bursts.push_back(Measure(r, sender, size, seq, count, 0));
    s.peakMiB = PeakMemoryMiB(r.Pid());
    r.StopProcess();
    std::sort(s.steps.begin(), s.steps.end(), [](const Run& a, const Run& b) { return a.offered < b.offered; });
    return s;
}

double IdleCpu(const std::string& name, const std::vector<std::string>& argv, int port, const fs::path& work,
               double seconds) {
    fs::remove_all(work);
    fs::create_directories(work);
    Process p = Spawn(name, argv, work.string(), (work / "console.txt").string());
    if (!WaitBound(port))
        Die(name + " did not bind");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    double cpu0 = CpuSeconds(p.pid);
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    double cpu = CpuSeconds(p.pid) - cpu0;
    Stop(p);
    return cpu;
}

struct Latency {
    double median, low, high;
};

Latency StopLatency(const std::string& name, const std::vector<std::string>& argv, int port, const fs::path& work,
                    int times) {
    std::vector<double> took;
    for (int i = 0; i < times; ++i) {
        fs::remove_all(work);
        fs::create_directories(work);
        Process p = Spawn(name, argv, work.string(), (work / "console.txt").string());
        if (!WaitBound(port))
            Die(name + " did not bind");
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        double t = Stop(p);
        if (t < 0)
            Die(name + " did not stop on SIGINT within 10 s");
        took.push_back(t);
    }
    std::sort(took.begin(), took.end());
    return {took[took.size() / 2], took.front(), took.back()};
}

std::string Fixed(double v, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, v);
    return text;
}

std::string Grouped(double v) {
    long n = std::lround(v);
    std::string digits = std::to_string(n), out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            out += ',';
        out += digits[i];
    }
    return out;
}

std::string Ratio(double ours, double bare) { return bare > 0 ? Fixed(ours / bare, ours / bare < 0.1 ? 3 : 2) : "-"; }

std::string Machine() {
    std::string cpu = "unknown CPU";
    std::ifstream info("/proc/cpuinfo");
    for (std::string line; std::getline(info, line);)
        if (line.rfind("model name", 0) == 0) {
            cpu = line.substr(line.find(':') + 2);
            break;
        }
    utsname u{};
    ::uname(&u);
    std::string os = "Linux";
    std::ifstream release("/etc/os-release");
    for (std::string line; std::getline(release, line);)
        if (line.rfind("PRETTY_NAME=", 0) == 0)
            os = line.substr(13, line.size() - 14);
    long memKiB = 0;
    std::ifstream mem("/proc/meminfo");
    std::string key;
    mem >> key >> memKiB;
    return cpu + ", " + std::to_string(std::thread::hardware_concurrency()) + " cores, " +
           std::to_string(memKiB / 1024 / 1024) + " GiB, " + os + ", kernel " + u.release;
}

} // namespace

int main(int argc, char** argv) {
    std::string ours = QUARNEL_EXE, bare = BARE_RECEIVER, poll = BARE_POLL;
    fs::path out = "bench/results";
    bool quick = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--receiver" && i + 1 < argc)
            ours = argv[++i];
        else if (a == "--out" && i + 1 < argc)
            out = argv[++i];
        else if (a == "--quick")
            quick = true;
        else {
            std::fprintf(stderr, "usage: %s [--receiver PROGRAM] [--out DIR] [--quick]\n", argv[0]);
            return 2;
        }
    }
    if (!fs::exists(ours))
        Die(ours + " does not exist: build it first");
    if (UdpSocket(syslogPort).bound)
        Die("port 514 is already bound by another program");
    fs::create_directories(out);
    fs::path work = fs::temp_directory_path() / ("relay-bench-" + std::to_string(::getpid()));

    double stepSeconds = quick ? 0.5 : 1.5;
    std::vector<long> bursts = {1000, 10000, 100000};
    std::vector<int> sizes = {100, 1023};
    double idleSeconds = quick ? 2 : 10;
    int stops = quick ? 5 : 20;

    Receiver system("ours", ours, work / "ours");
    Receiver baseline("baseline", bare, work / "baseline");
    std::vector<Series> oursBySize, bareBySize;
    for (int size : sizes) {
        oursBySize.push_back(RunSeries(system, size, stepSeconds, bursts, 2e6));
        bareBySize.push_back(RunSeries(baseline, size, stepSeconds, bursts, 2e6));
    }

    std::printf("idle: measuring %g s of each\n", idleSeconds);
    std::fflush(stdout);
    double idleOurs = IdleCpu("ours", {ours, "-debug"}, syslogPort, work / "idle", idleSeconds);
    double idleBare = IdleCpu("poll", {poll, std::to_string(pollPort)}, pollPort, work / "idle", idleSeconds);
    std::printf("idle: ours %.3f s CPU, bare poll loop %.3f s CPU\n", idleOurs, idleBare);
    Latency stopOurs = StopLatency("ours", {ours, "-debug"}, syslogPort, work / "stop", stops);
    Latency stopBare = StopLatency("poll", {poll, std::to_string(pollPort)}, pollPort, work / "stop", stops);
    std::printf("stop: ours median %.2f ms, bare poll loop median %.2f ms\n", stopOurs.median * 1e3,
                stopBare.median * 1e3);
    fs::remove_all(work);

    // The report.
    std::ostringstream md;
    char when[64];
    std::time_t now = std::time(nullptr);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    md << "Run " << when << " on " << Machine() << ". Receiver: `" << fs::path(ours).filename().string()
       << " -debug` (host build, console echo to /dev/null); baseline: one blocking `recv` per datagram into a "
          "1024-byte buffer.\n\n";
    md << "| Measure | ours | baseline | ours / baseline |\n|---|---:|---:|---:|\n";
    for (size_t i = 0; i < sizes.size(); ++i) {
        const Series &o = oursBySize[i], &b = bareBySize[i];
        md << "| Highest paced rate with zero loss, " << sizes[i] << "-byte lines (msg/s) | " << Grouped(o.zeroLossRate)
           << " | " << Grouped(b.zeroLossRate) << (b.steps.back().offered < 0.8 * 2e6 && b.steps.back().written ==
                                                         b.steps.back().sent
                                                     ? " (sender's limit)"
                                                     : "")
           << " | " << Ratio(o.zeroLossRate, b.zeroLossRate) << " |\n";
    }
    for (size_t i = 0; i < sizes.size(); ++i)
        for (size_t k = 0; k < bursts.size(); ++k) {
            const Run &o = oursBySize[i].bursts[k], &b = bareBySize[i].bursts[k];
            md << "| Loss, burst of " << Grouped(bursts[k]) << " " << sizes[i] << "-byte lines | "
               << Fixed(o.lossPercent, 1) << " % | " << Fixed(b.lossPercent, 1) << " % | "
               << (b.lossPercent > 0 ? Ratio(o.lossPercent, b.lossPercent) : "-") << " |\n";
        }
    for (size_t i = 0; i < sizes.size(); ++i) {
        const Run &o = oursBySize[i].atZeroLoss, &b = bareBySize[i].atZeroLoss;
        double oc = o.written ? o.cpuSeconds / o.written * 1e6 : 0, bc = b.written ? b.cpuSeconds / b.written * 1e6 : 0;
        md << "| Receiver CPU per message at its zero-loss rate, " << sizes[i] << "-byte lines (µs) | " << Fixed(oc, 1)
           << " | " << Fixed(bc, 1) << " | " << Ratio(oc, bc) << " |\n";
    }
    md << "| Peak memory of the receiver (MiB) | " << Fixed(oursBySize[0].peakMiB, 1) << " | "
       << Fixed(bareBySize[0].peakMiB, 1) << " | " << Ratio(oursBySize[0].peakMiB, bareBySize[0].peakMiB) << " |\n";
    md << "| Idle CPU in " << Fixed(idleSeconds, 0) << " s without traffic (s; baseline: bare 100 µs poll loop) | "
       << Fixed(idleOurs, 3) << " | " << Fixed(idleBare, 3) << " | " << Ratio(idleOurs, idleBare) << " |\n";
    md << "| Stop latency, SIGINT to exit, median of " << stops << " (ms; baseline: bare poll loop) | "
       << Fixed(stopOurs.median * 1e3, 2) << " (" << Fixed(stopOurs.low * 1e3, 2) << "-" << Fixed(stopOurs.high * 1e3, 2)
       << ") | " << Fixed(stopBare.median * 1e3, 2) << " (" << Fixed(stopBare.low * 1e3, 2) << "-"
       << Fixed(stopBare.high * 1e3, 2) << ") | " << Ratio(stopOurs.median, stopBare.median) << " |\n\n";

    md << "Every run (paced steps, then the bursts; entries/s counts only entries that are intact and in order):\n\n";
    md << "| receiver | size (B) | load | offered (msg/s) | sent | written | loss | entries/s | CPU (s) | peak (MiB) "
          "|\n|---|---:|---|---:|---:|---:|---:|---:|---:|---:|\n";
    std::ofstream data(out / "steps.dat");
    data << "# receiver size offered entries_per_s loss_percent\n";
    for (size_t i = 0; i < sizes.size(); ++i)
        for (const Series* s : {&oursBySize[i], &bareBySize[i]}) {
            data << "# " << s->steps.front().receiver << "-" << sizes[i] << "\n";
            for (const Run& r : s->steps)
                data << r.offered << " " << r.entriesPerSecond << " " << r.lossPercent << "\n";
            data << "\n\n";
            std::vector<Run> all = s->steps;
            all.insert(all.end(), s->bursts.begin(), s->bursts.end());
            for (const Run& r : all)
                md << "| " << r.receiver << " | " << r.size << " | " << r.mode << " | " << Grouped(r.offered) << " | "
                   << Grouped(r.sent) << " | " << Grouped(r.written) << " | " << Fixed(r.lossPercent, 2) << " % | "
                   << Grouped(r.entriesPerSecond) << " | " << Fixed(r.cpuSeconds, 3) << " | " << Fixed(r.peakMiB, 1)
                   << " |\n";
        }
    data.close();
    std::ofstream(out / "results.md") << md.str();
    std::printf("\n%s", md.str().c_str());

    // The plot, if gnuplot is there.
    std::ofstream plot(out / "plot.gp");
    plot << "set terminal pngcairo size 1100,800 font 'sans,10'\n"
         << "set output '" << (out / "throughput.png").string() << "'\n"
         << "set multiplot layout 2,1 title 'Entries per second and loss against offered rate (127.0.0.1:514)'\n"
         << "set logscale xy\nset grid\nset key left top\nset xlabel 'offered rate (messages/s)'\n"
         << "set ylabel 'entries/s (intact, in order)'\n"
         << "f='" << (out / "steps.dat").string() << "'\n"
         << "plot f index 0 using 1:2 with linespoints title 'ours, 100 B', "
            "f index 1 using 1:2 with linespoints title 'baseline, 100 B', "
            "f index 2 using 1:2 with linespoints title 'ours, 1023 B', "
            "f index 3 using 1:2 with linespoints title 'baseline, 1023 B'\n"
         << "unset logscale y\nset yrange [0:100]\nset ylabel 'loss (%)'\n"
         << "plot f index 0 using 1:3 with linespoints title 'ours, 100 B', "
            "f index 1 using 1:3 with linespoints title 'baseline, 100 B', "
            "f index 2 using 1:3 with linespoints title 'ours, 1023 B', "
            "f index 3 using 1:3 with linespoints title 'baseline, 1023 B'\n"
         << "unset multiplot\n";
    plot.close();
    if (std::system(("gnuplot " + (out / "plot.gp").string()).c_str()) != 0)
        std::fprintf(stderr, "relay_bench: gnuplot failed; no plot\n");
    return 0;
}
