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

// Cleans up what outlives the benchmark (Wine's server and services).
void (*atDie)() = nullptr;

[[noreturn]] void Die(const std::string& why) {
    std::fprintf(stderr, "relay_bench: %s\n", why.c_str());
    if (auto cleanUp = atDie) {
        atDie = nullptr;
        cleanUp();
    }
    std::exit(1);
}

// ---- processes ------------------------------------------------------------

struct Process {
    pid_t pid = -1;
    std::string name;
};

// Options for a program run under Wine: variables to set ("NAME=value") or to
// drop ("NAME"), a folder to start in, standard error apart from the output.
struct SpawnExtras {
    std::vector<std::string> env;
    std::string directory;
    std::string errorOutput;
};

Process Spawn(const std::string& name, const std::vector<std::string>& argv, const std::string& hostRoot,
              const std::string& output, const SpawnExtras& extras = {}) {
    auto overridden = [&](const char* e) {
        for (const auto& x : extras.env) {
            std::string key = x.substr(0, x.find('='));
            if (std::strncmp(e, key.c_str(), key.size()) == 0 && e[key.size()] == '=')
                return true;
        }
        return false;
    };
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "QUARNEL_HOST_ROOT=", 18) != 0 && !overridden(*e))
            env.emplace_back(*e);
    env.push_back("QUARNEL_HOST_ROOT=" + hostRoot);
    for (const auto& x : extras.env)
        if (x.find('=') != std::string::npos)
            env.push_back(x);
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
    if (extras.errorOutput.empty()) {
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
    } else {
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, extras.errorOutput.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        // Wine's server and services outlive us: they must not keep the port 514 lock.
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    }
    if (!extras.directory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, extras.directory.c_str());
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

// ---- Wine -------------------------------------------------------------------

// The NUL-separated fields of /proc/PID/FILE (cmdline, environ).
std::vector<std::string> ProcFields(pid_t pid, const char* file) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/" + file, std::ios::binary);
    std::vector<std::string> fields;
    for (std::string field; std::getline(in, field, '\0');)
        fields.push_back(field);
    return fields;
}

// Waits for a child that ends by itself; kills it after the limit.
void Await(Process& p, double limitSeconds) {
    auto start = Clock::now();
    int status = 0;
    while (::waitpid(p.pid, &status, WNOHANG) != p.pid) {
        if (Seconds(Clock::now() - start) > limitSeconds) {
            ::kill(p.pid, SIGKILL);
            ::waitpid(p.pid, &status, 0);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    p.pid = -1;
}

// A fresh, headless Wine prefix of the benchmark's own, with a server that
// stays between the receiver's runs so that Wine's own services start once.
struct WinePrefix {
    std::string wine, wineserver;
    fs::path root, programDirectory;
    std::vector<std::string> env;
    mutable pid_t server = -1;

    std::string Prefix() const { return (root / "prefix").string(); }

    // Every process of this prefix: Wine passes WINEPREFIX on to all of them.
    std::vector<pid_t> Processes() const {
        std::vector<pid_t> found;
        const std::string mark = "WINEPREFIX=" + Prefix();
        if (DIR* proc = ::opendir("/proc")) {
            while (dirent* d = ::readdir(proc)) {
                pid_t pid = std::atoi(d->d_name);
                if (pid <= 0)
                    continue;
                for (const auto& e : ProcFields(pid, "environ"))
                    if (e == mark) {
                        found.push_back(pid);
                        break;
                    }
            }
            ::closedir(proc);
        }
        return found;
    }

    void Run(const std::vector<std::string>& argv, double limitSeconds) {
        Process p = Spawn(argv.back(), argv, root.string(), (root / "setup.txt").string(),
                          {env, "", (root / "setup-errors.txt").string()});
        Await(p, limitSeconds);
    }

    void Setup(const fs::path& where, const std::string& exe) {
        root = where;
        fs::remove_all(root);
        fs::create_directories(root / "home");
        env = {"WINEPREFIX=" + Prefix(),
               "HOME=" + (root / "home").string(),
               "XDG_CONFIG_HOME=" + (root / "home/.config").string(),
               "WINEDLLOVERRIDES=mscoree,mshtml=",
               "WINEDEBUG=-all",
               "DISPLAY",
               "WAYLAND_DISPLAY"};
        Run({wine, "wineboot", "-i"}, 300);
        Run({wineserver, "-w"}, 120);
        programDirectory = root / "prefix/drive_c/Program Files/Quarnel SysLog";
        fs::create_directories(programDirectory);
        for (const char* file : {"QuarnelSysLog.exe", "QuarnelSysLog.dll"})
            if (fs::exists(fs::path(exe).parent_path() / file))
                fs::copy_file(fs::path(exe).parent_path() / file, programDirectory / file);
        // Longer than the host runs between two Wine series; ends by itself
        // ten minutes after a run that was killed.
        Run({wineserver, "-p600"}, 30);
        Run({wine, "cmd", "/c", "exit"}, 120);
        FindServer();
    }

    // Looked for again at each start of the receiver, in case it was restarted.
    void FindServer() const {
        server = -1;
        for (pid_t pid : Processes()) {
            std::error_code error;
            if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", error).filename().string().rfind(
                    "wineserver", 0) == 0)
                server = pid;
        }
        if (server < 0)
            Die("no wineserver for the prefix in " + root.string());
    }

    void TearDown() {
        if (root.empty())
            return;
        Run({wineserver, "-k"}, 30);
        for (pid_t pid : Processes())
            ::kill(pid, SIGKILL);
        fs::remove_all(root);
    }
};

std::string ProgramOutput(const std::string& command) {
    std::string out;
    if (FILE* p = ::popen(command.c_str(), "r")) {
        char buffer[256];
        while (std::fgets(buffer, sizeof buffer, p))
            out += buffer;
        ::pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
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
// the bare receiver, whose count is in a shared counter, or the Windows build
// under Wine, whose entries are counted from its console echo ("Recv: " lines,
// the same text it hands to ReportEventA next) or, when traced, from the
// +eventlog lines in which Wine's ReportEventW shows each entry's string.
class Receiver {
public:
    Receiver(std::string kind, std::string program, fs::path work, const WinePrefix* wine = nullptr,
             bool traced = false)
        : kind(kind), program(program), work(work), wine(wine), traced(traced) {}

    bool Ours() const { return kind == "ours"; }
    bool Wine() const { return wine != nullptr; }
    bool Traced() const { return traced; }

    void Start() {
        fs::remove_all(work);
        fs::create_directories(work);
        if (Wine()) {
            SpawnExtras extras{wine->env, wine->programDirectory.string(), TracePath().string()};
            if (traced)
                for (auto& e : extras.env)
                    if (e.rfind("WINEDEBUG=", 0) == 0)
                        e = "WINEDEBUG=-all,+eventlog";
            process = Spawn(kind, {wine->wine, "QuarnelSysLog.exe", "-debug"}, work.string(), ConsolePath().string(),
                            extras);
        } else if (Ours()) {
            process = Spawn(kind, {program, "-debug"}, work.string(), (work / "console.txt").string());
        } else {
            process = Spawn(kind, {program, std::to_string(syslogPort), (work / "counter").string()}, work.string(),
                            (work / "console.txt").string());
        }
        if (!WaitBound(syslogPort, Wine() ? 60 : 10))
            Die(kind + " receiver did not bind port 514; see " + (work / "console.txt").string());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        logOffset = 0;
        traceOffset = 0;
        lineScanOffset = 0;
        counted = 0;
        exePid = -1;
        if (Wine()) {
            // wine may run a console program through start.exe: then the
            // process that receives is another one of the prefix.
            for (pid_t pid : wine->Processes()) {
                // Wine writes the Windows command line over argv, blanks and all.
                auto argv = ProcFields(pid, "cmdline");
                if (!argv.empty() && argv[0].rfind("start.exe", 0) != 0 &&
                    argv[0].find("QuarnelSysLog.exe") != std::string::npos &&
                    (exePid < 0 || pid != process.pid))
                    exePid = pid;
            }
            viaStart = exePid != process.pid;
            wine->FindServer();
            if (exePid < 0) {
                Stop(process);
                Die("no QuarnelSysLog.exe process in the Wine prefix");
            }
        }
        if (!Ours() && !Wine()) {
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
        // The next start must not find this one's socket still bound.
        for (auto start = Clock::now(); Wine() && UdpSocket(syslogPort).bound && Seconds(Clock::now() - start) < 10;)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return took;
    }

    pid_t Pid() const { return process.pid; }

    // CPU of the receiver; under Wine its process and wineserver, which does
    // part of the work of every Winsock and file call.
    double Cpu() const { return Wine() ? CpuSeconds(exePid) + CpuSeconds(wine->server) : CpuSeconds(process.pid); }
    double ServerCpu() const { return Wine() ? CpuSeconds(wine->server) : 0; }
    // The rest of the prefix: start.exe, services.exe, explorer.exe and the like.
    double OtherCpu() const {
        double total = 0;
        if (Wine())
            for (pid_t pid : wine->Processes())
                if (pid != exePid && pid != wine->server)
                    total += CpuSeconds(pid);
        return total;
    }
    double PeakMiB() const { return PeakMemoryMiB(Wine() ? exePid : process.pid); }
    bool ViaStart() const { return viaStart; }
    // Names of the prefix's other processes, for the report.
    std::string OtherNames() const {
        std::vector<std::string> names;
        if (Wine())
            for (pid_t pid : wine->Processes()) {
                auto argv = ProcFields(pid, "cmdline");
                if (pid == exePid || pid == wine->server || argv.empty())
                    continue;
                std::string name = argv[0].substr(0, argv[0].find(' '));
                name = name.substr(name.find_last_of("\\/") + 1);
                if (std::find(names.begin(), names.end(), name) == names.end())
                    names.push_back(name);
            }
        std::sort(names.begin(), names.end());
        std::string all;
        for (const auto& n : names)
            all += (all.empty() ? "" : ", ") + n;
        return all;
    }

    // Messages written (ours: log lines, bare: datagrams received) so far.
    long Count() {
        if (!Ours() && !Wine())
            return static_cast<long>(__atomic_load_n(counter, __ATOMIC_RELAXED));
        std::ifstream log(Wine() ? ConsolePath() : LogPath(), std::ios::binary);
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
    // sent; returns those that are intact and in order. Traced under Wine,
    // those of the trace, with the echoed ones in `echoed`.
    long IntactInOrder(int size, long firstSeq, long count) {
        if (!Ours() && !Wine())
            return Count() - countedBefore;
        auto expectEntry = [&](long seq) { return ExpectedEntry(size, seq); };
        if (!Wine())
            return Check(LogPath(), logOffset, firstSeq, count, expectEntry, [](const std::string& line) {
                auto entry = nlohmann::json::parse(line, nullptr, false);
                if (entry.is_discarded() || !entry.contains("strings") || entry["strings"].empty())
                    return std::string();
                return entry["strings"][0].get<std::string>();
            });
        // The echo is the prepared text, header and all; MinGW's stdout ends lines with CR LF.
        echoed = Check(ConsolePath(), logOffset, firstSeq, count, [&](long seq) { return Message(size, seq); },
                       [](std::string line) {
                           if (!line.empty() && line.back() == '\r')
                               line.pop_back();
                           return line.rfind("Recv: ", 0) == 0 ? line.substr(6) : std::string();
                       });
        if (!traced)
            return echoed;
        // 0024:trace:eventlog:ReportEventW L"text"; Wine cuts long strings
        // short and marks it with "..." after the quote, which is then not intact.
        return Check(TracePath(), traceOffset, firstSeq, count, expectEntry, [](const std::string& line) {
            static const std::string mark = ":eventlog:ReportEventW L\"";
            auto at = line.find(mark);
            if (at == std::string::npos || line.size() < at + mark.size() + 1 || line.back() != '"')
                return std::string();
            return line.substr(at + mark.size(), line.size() - at - mark.size() - 1);
        });
    }

    void MarkCount() { countedBefore = Count(); }

    std::string kind;
    long echoed = 0;

private:
    // Lines of `path` from `offset` on whose text (as `extract` finds it) is
    // exactly what was sent, counted while their sequence numbers rise.
    template <typename Expected, typename Extract>
    long Check(const fs::path& path, size_t& offset, long firstSeq, long count, Expected expected, Extract extract) {
        std::ifstream log(path, std::ios::binary);
        log.seekg(static_cast<std::streamoff>(offset));
        long good = 0, last = firstSeq - 1;
        for (std::string line; std::getline(log, line);) {
            offset += line.size() + 1;
            std::string text = extract(line);
            auto at = text.find("seq=");
            if (at == std::string::npos)
                continue;
            long seq = std::atol(text.c_str() + at + 4);
            if (seq > last && seq < firstSeq + count && text == expected(seq)) {
                ++good;
                last = seq;
            }
        }
        return good;
    }

    fs::path LogPath() const { return work / "eventlog" / "Application.jsonl"; }
    fs::path ConsolePath() const { return work / "console.txt"; }
    fs::path TracePath() const { return work / "trace.txt"; }

    std::string program;
    fs::path work;
    const WinePrefix* wine;
    bool traced;
    Process process;
    pid_t exePid = -1;
    bool viaStart = false;
    size_t logOffset = 0;
    size_t traceOffset = 0;
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
    double serverCpuSeconds = 0; // Wine: wineserver's part of cpuSeconds
    double otherCpuSeconds = 0;  // Wine: the prefix's other processes, not in cpuSeconds
    long echoed = -1;            // Wine, traced: intact echo lines beside the traced entries
};

// Sends one load and waits until no more entries arrive.
Run Measure(Receiver& r, Sender& sender, int size, long& nextSeq, long count, double rate) {
    r.MarkCount();
    long before = r.Count();
    double cpu0 = r.Cpu(), server0 = r.ServerCpu(), other0 = r.OtherCpu();
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
    double cpu = r.Cpu() - cpu0;
    long good = r.IntactInOrder(size, nextSeq, count);
    (void)before;
    nextSeq += count;
    Run run{r.kind, size, rate > 0 ? "paced" : "burst", count / sending, count, good,
            100.0 * (count - good) / count, good / busy, cpu, r.PeakMiB()};
    if (r.Wine()) {
        run.serverCpuSeconds = r.ServerCpu() - server0;
        run.otherCpuSeconds = r.OtherCpu() - other0;
    }
    if (r.Traced())
        run.echoed = r.echoed;
    std::printf("%-16s %5d B %-5s offered %9.0f/s sent %7ld written %7ld loss %6.2f%% %9.0f entries/s cpu %6.3f s peak "
                "%6.1f MiB\n",
                run.receiver.c_str(), size, run.mode.c_str(), run.offered, run.sent, run.written, run.lossPercent,
                run.entriesPerSecond, run.cpuSeconds, run.peakMiB);
    if (r.Wine())
        std::printf("%-16s         wineserver %.3f s of that cpu, other Wine processes %.3f s%s\n", "",
                    run.serverCpuSeconds, run.otherCpuSeconds,
                    run.echoed >= 0 ? (", echo lines " + std::to_string(run.echoed)).c_str() : "");
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
    s.peakMiB = r.PeakMiB();
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

struct Idle {
    double cpu, server, others;
    std::string otherNames;
    bool viaStart = false;
};

// The same two measures for a receiver that needs more than a plain start.
Idle IdleCpu(Receiver& r, double seconds) {
    r.Start();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    double cpu0 = r.Cpu(), server0 = r.ServerCpu(), other0 = r.OtherCpu();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    Idle idle{r.Cpu() - cpu0, r.ServerCpu() - server0, r.OtherCpu() - other0, r.OtherNames(), r.ViaStart()};
    r.StopProcess();
    return idle;
}

Latency StopLatency(Receiver& r, int times) {
    std::vector<double> took;
    for (int i = 0; i < times; ++i) {
        r.Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        double t = r.StopProcess();
        if (t < 0)
            Die(r.kind + " did not stop on SIGINT within 10 s");
        took.push_back(t);
    }
    std::sort(took.begin(), took.end());
    return {took[took.size() / 2], took.front(), took.back()};
}

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
    std::string ours = QUARNEL_EXE, bare = BARE_RECEIVER, poll = BARE_POLL, windowsExe = QUARNEL_WINDOWS_EXE;
    fs::path out = "bench/results";
    bool quick = false, withWine = false, noWine = false;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--receiver" && i + 1 < argc)
            ours = argv[++i];
        else if (a == "--out" && i + 1 < argc)
            out = argv[++i];
        else if (a == "--quick")
            quick = true;
        else if (a == "--wine")
            withWine = true;
        else if (a == "--no-wine")
            noWine = true;
        else if (a == "--windows-receiver" && i + 1 < argc)
            windowsExe = argv[++i];
        else {
            std::fprintf(stderr,
                         "usage: %s [--receiver PROGRAM] [--out DIR] [--quick] [--wine|--no-wine] [--windows-receiver EXE]\n",
                         argv[0]);
            return 2;
        }
    }
    if (!fs::exists(ours))
        Die(ours + " does not exist: build it first");
    // Wine is part of the run wherever it and the Windows build are there.
    bool wineThere = !std::string(QUARNEL_WINE).empty() && !std::string(QUARNEL_WINESERVER).empty();
    if (!withWine && !noWine) {
        withWine = wineThere && fs::exists(windowsExe);
        if (!withWine)
            std::printf("Without the Wine runs: %s\n", wineThere ? (windowsExe + " is missing").c_str()
                                                                  : "Wine is not installed");
    }
    if (withWine && !fs::exists(windowsExe))
        Die(windowsExe + " does not exist: cmake --preset windows-x64 && cmake --build --preset windows-x64");
    if (withWine && (std::string(QUARNEL_WINE).empty() || std::string(QUARNEL_WINESERVER).empty()))
        Die("--wine needs Wine (apt-get install wine64)");
    if (UdpSocket(syslogPort).bound)
        Die("port 514 is already bound by another program");
    fs::create_directories(out);
    fs::path work = fs::temp_directory_path() / ("relay-bench-" + std::to_string(::getpid()));

    double stepSeconds = quick ? 0.5 : 1.5;
    std::vector<long> bursts = {1000, 10000, 100000};
    std::vector<int> sizes = {100, 1023};
    double idleSeconds = quick ? 2 : 10;
    int stops = quick ? 5 : 20;

    WinePrefix prefix;
    std::string wineVersion;
    if (withWine) {
        auto started = Clock::now();
        prefix.wine = QUARNEL_WINE;
        prefix.wineserver = QUARNEL_WINESERVER;
        static WinePrefix* active = &prefix;
        atDie = [] { active->TearDown(); };
        prefix.Setup(work / "wine", windowsExe);
        wineVersion = ProgramOutput("'" + prefix.wine + "' --version 2>/dev/null");
        std::printf("Wine prefix %s (%s) ready after %.1f s\n", prefix.Prefix().c_str(), wineVersion.c_str(),
                    Seconds(Clock::now() - started));
        std::fflush(stdout);
    }

    Receiver system("ours", ours, work / "ours");
    Receiver baseline("baseline", bare, work / "baseline");
    Receiver underWine("ours/Wine", windowsExe, work / "ours-wine", &prefix);
    Receiver traced("ours/Wine+trace", windowsExe, work / "ours-wine-traced", &prefix, true);
    std::vector<Series> oursBySize, bareBySize, wineBySize;
    for (int size : sizes) {
        oursBySize.push_back(RunSeries(system, size, stepSeconds, bursts, 2e6));
        bareBySize.push_back(RunSeries(baseline, size, stepSeconds, bursts, 2e6));
        if (withWine)
            wineBySize.push_back(RunSeries(underWine, size, stepSeconds, bursts, 2e6));
    }
    // What tracing costs and whether the echo counts as the trace does: the
    // 100-byte zero-loss step and a 10,000 burst again, with +eventlog on.
    std::vector<Run> tracedRuns;
    if (withWine) {
        Sender sender;
        traced.Start();
        long seq = 0;
        double rate = std::max(500.0, wineBySize[0].zeroLossRate);
        tracedRuns.push_back(
            Measure(traced, sender, 100, seq, std::max(1000L, static_cast<long>(rate * stepSeconds)), rate));
        tracedRuns.push_back(Measure(traced, sender, 100, seq, 10000, 0));
        traced.StopProcess();
    }

    std::printf("idle: measuring %g s of each\n", idleSeconds);
    std::fflush(stdout);
    double idleOurs = IdleCpu("ours", {ours, "-debug"}, syslogPort, work / "idle", idleSeconds);
    double idleBare = IdleCpu("poll", {poll, std::to_string(pollPort)}, pollPort, work / "idle", idleSeconds);
    Idle idleWine{};
    if (withWine)
        idleWine = IdleCpu(underWine, idleSeconds);
    std::printf("idle: ours %.3f s CPU, bare poll loop %.3f s CPU", idleOurs, idleBare);
    if (withWine)
        std::printf(", under Wine %.3f s (wineserver %.3f s; other Wine processes %.3f s)", idleWine.cpu,
                    idleWine.server, idleWine.others);
    std::printf("\n");
    Latency stopOurs = StopLatency("ours", {ours, "-debug"}, syslogPort, work / "stop", stops);
    Latency stopBare = StopLatency("poll", {poll, std::to_string(pollPort)}, pollPort, work / "stop", stops);
    Latency stopWine{};
    auto stopsStarted = Clock::now();
    if (withWine)
        stopWine = StopLatency(underWine, stops);
    double stopsTook = Seconds(Clock::now() - stopsStarted);
    std::printf("stop: ours median %.2f ms, bare poll loop median %.2f ms", stopOurs.median * 1e3,
                stopBare.median * 1e3);
    if (withWine)
        std::printf(", under Wine median %.2f ms (%d starts and stops in %.1f s)", stopWine.median * 1e3, stops,
                    stopsTook);
    std::printf("\n");
    double serverPeakMiB = withWine ? PeakMemoryMiB(prefix.server) : 0;
    atDie = nullptr;
    prefix.TearDown();
    fs::remove_all(work);

    // The report: with Wine, its column and the ratios to both others.
    std::ostringstream md;
    char when[64];
    std::time_t now = std::time(nullptr);
    std::strftime(when, sizeof when, "%Y-%m-%d %H:%M UTC", std::gmtime(&now));
    md << "Run " << when << " on " << Machine() << ". Receiver: `" << fs::path(ours).filename().string()
       << " -debug` (host build, console echo to a file)";
    if (withWine)
        md << "; under Wine: the x86-64 Windows build, `wine " << fs::path(windowsExe).filename().string()
           << " -debug` in a fresh headless prefix of its own (" << wineVersion
           << ", WINEDEBUG=-all), entries counted from its console echo, CPU of its process plus wineserver";
    md << "; baseline: one blocking `recv` per datagram into a 1024-byte buffer.\n\n";
    if (withWine)
        md << "| Measure | ours | ours under Wine | baseline | ours / baseline | Wine / baseline | Wine / ours "
              "|\n|---|---:|---:|---:|---:|---:|---:|\n";
    else
        md << "| Measure | ours | baseline | ours / baseline |\n|---|---:|---:|---:|\n";
    auto row = [&](const std::string& label, const std::string& o, const std::string& w, const std::string& b,
                   const std::string& ob, const std::string& wb, const std::string& wo) {
        md << "| " << label << " | " << o;
        if (withWine)
            md << " | " << w;
        md << " | " << b << " | " << ob;
        if (withWine)
            md << " | " << wb << " | " << wo;
        md << " |\n";
    };
    auto lossRatio = [](double a, double b) { return b > 0 ? Ratio(a, b) : std::string("-"); };
    for (size_t i = 0; i < sizes.size(); ++i) {
        const Series &o = oursBySize[i], &b = bareBySize[i];
        double w = withWine ? wineBySize[i].zeroLossRate : 0;
        row("Highest paced rate with zero loss, " + std::to_string(sizes[i]) + "-byte lines (msg/s)",
            Grouped(o.zeroLossRate), Grouped(w),
            Grouped(b.zeroLossRate) +
                (b.steps.back().offered < 0.8 * 2e6 && b.steps.back().written == b.steps.back().sent
                     ? " (sender's limit)"
                     : ""),
            Ratio(o.zeroLossRate, b.zeroLossRate), Ratio(w, b.zeroLossRate), Ratio(w, o.zeroLossRate));
    }
    for (size_t i = 0; i < sizes.size(); ++i)
        for (size_t k = 0; k < bursts.size(); ++k) {
            const Run &o = oursBySize[i].bursts[k], &b = bareBySize[i].bursts[k];
            double w = withWine ? wineBySize[i].bursts[k].lossPercent : 0;
            row("Loss, burst of " + Grouped(bursts[k]) + " " + std::to_string(sizes[i]) + "-byte lines",
                Fixed(o.lossPercent, 1) + " %", Fixed(w, 1) + " %", Fixed(b.lossPercent, 1) + " %",
                lossRatio(o.lossPercent, b.lossPercent), lossRatio(w, b.lossPercent), lossRatio(w, o.lossPercent));
        }
    auto perMessage = [](const Run& r) { return r.written ? r.cpuSeconds / r.written * 1e6 : 0; };
    for (size_t i = 0; i < sizes.size(); ++i) {
        double oc = perMessage(oursBySize[i].atZeroLoss), bc = perMessage(bareBySize[i].atZeroLoss);
        double wc = withWine ? perMessage(wineBySize[i].atZeroLoss) : 0;
        row("Receiver CPU per message at its zero-loss rate, " + std::to_string(sizes[i]) + "-byte lines (µs)",
            Fixed(oc, 1), Fixed(wc, 1), Fixed(bc, 1), Ratio(oc, bc), Ratio(wc, bc), Ratio(wc, oc));
    }
    double wp = withWine ? wineBySize[0].peakMiB : 0;
    row("Peak memory of the receiver (MiB)", Fixed(oursBySize[0].peakMiB, 1), Fixed(wp, 1),
        Fixed(bareBySize[0].peakMiB, 1), Ratio(oursBySize[0].peakMiB, bareBySize[0].peakMiB),
        Ratio(wp, bareBySize[0].peakMiB), Ratio(wp, oursBySize[0].peakMiB));
    row("Idle CPU in " + Fixed(idleSeconds, 0) + " s without traffic (s; baseline: bare 100 µs poll loop)",
        Fixed(idleOurs, 3), Fixed(idleWine.cpu, 3), Fixed(idleBare, 3), Ratio(idleOurs, idleBare),
        Ratio(idleWine.cpu, idleBare), Ratio(idleWine.cpu, idleOurs));
    auto latency = [](const Latency& l) {
        return Fixed(l.median * 1e3, 2) + " (" + Fixed(l.low * 1e3, 2) + "-" + Fixed(l.high * 1e3, 2) + ")";
    };
    row("Stop latency, SIGINT to exit, median of " + std::to_string(stops) + " (ms; baseline: bare poll loop)",
        latency(stopOurs), latency(stopWine), latency(stopBare), Ratio(stopOurs.median, stopBare.median),
        Ratio(stopWine.median, stopBare.median), Ratio(stopWine.median, stopOurs.median));
    md << "\n";

    if (withWine) {
        const Run& z100 = wineBySize[0].atZeroLoss;
        const Run& z1023 = wineBySize[1].atZeroLoss;
        double others = 0;
        for (const Series& s : wineBySize) {
            for (const Run& r : s.steps)
                others += r.otherCpuSeconds;
            for (const Run& r : s.bursts)
                others += r.otherCpuSeconds;
        }
        auto serverShare = [](const Run& r) { return r.cpuSeconds > 0 ? 100 * r.serverCpuSeconds / r.cpuSeconds : 0; };
        md << "Under Wine, wineserver did " << Fixed(serverShare(z100), 0) << " % (100-byte lines) and "
           << Fixed(serverShare(z1023), 0) << " % (1023-byte lines) of the receiver CPU at the zero-loss rate, and "
           << Fixed(idleWine.cpu > 0 ? 100 * idleWine.server / idleWine.cpu : 0, 0)
           << " % of the idle CPU; its own peak resident size was " << Fixed(serverPeakMiB, 1)
           << " MiB (not in the receiver's). The prefix's other processes (" << idleWine.otherNames
           << ") are left out: " << Fixed(others, 3) << " s over all the Wine loads, " << Fixed(idleWine.others, 3)
           << " s in the idle " << Fixed(idleSeconds, 0) << " s. "
           << (idleWine.viaStart ? "wine ran the program through start.exe; stop latency is SIGINT to start.exe's "
                                   "exit, which follows the program's."
                                 : "wine ran the program in the process it started; SIGINT goes to it.")
           << "\n\n";
        md << "The echo against Wine's +eventlog trace (WINEDEBUG=-all,+eventlog, the receiver's standard error to a "
              "file), 100-byte lines:\n\n";
        md << "| load | offered (msg/s) | sent | entries in the trace | echo lines | loss | CPU per message (µs) | "
              "same load untraced (µs) |\n|---|---:|---:|---:|---:|---:|---:|---:|\n";
        for (size_t k = 0; k < tracedRuns.size(); ++k) {
            const Run& t = tracedRuns[k];
            const Run& u = k == 0 ? z100 : wineBySize[0].bursts[1];
            md << "| " << t.mode << " | " << Grouped(t.offered) << " | " << Grouped(t.sent) << " | "
               << Grouped(t.written) << " | " << Grouped(t.echoed) << " | " << Fixed(t.lossPercent, 2) << " % | "
               << Fixed(perMessage(t), 1) << " | " << Fixed(perMessage(u), 1) << " |\n";
        }
        md << "\n";
    }

    md << "Every run (paced steps, then the bursts; entries/s counts only entries that are intact and in order):\n\n";
    md << "| receiver | size (B) | load | offered (msg/s) | sent | written | loss | entries/s | CPU (s) | peak (MiB) |"
       << (withWine ? " of the CPU, wineserver (s) |" : "") << "\n|---|---:|---|---:|---:|---:|---:|---:|---:|---:|"
       << (withWine ? "---:|" : "") << "\n";
    std::ofstream data(out / "steps.dat");
    data << "# receiver size offered entries_per_s loss_percent\n";
    std::vector<std::string> titles;
    for (size_t i = 0; i < sizes.size(); ++i) {
        std::vector<const Series*> all = {&oursBySize[i], &bareBySize[i]};
        if (withWine)
            all.push_back(&wineBySize[i]);
        for (const Series* s : all) {
            const std::string& who = s->steps.front().receiver;
            titles.push_back((who == "ours/Wine" ? std::string("ours under Wine") : who) + ", " +
                             std::to_string(sizes[i]) + " B");
            data << "# " << who << "-" << sizes[i] << "\n";
            for (const Run& r : s->steps)
                data << r.offered << " " << r.entriesPerSecond << " " << r.lossPercent << "\n";
            data << "\n\n";
            std::vector<Run> runs = s->steps;
            runs.insert(runs.end(), s->bursts.begin(), s->bursts.end());
            for (const Run& r : runs) {
                md << "| " << r.receiver << " | " << r.size << " | " << r.mode << " | " << Grouped(r.offered) << " | "
                   << Grouped(r.sent) << " | " << Grouped(r.written) << " | " << Fixed(r.lossPercent, 2) << " % | "
                   << Grouped(r.entriesPerSecond) << " | " << Fixed(r.cpuSeconds, 3) << " | " << Fixed(r.peakMiB, 1)
                   << " |";
                if (withWine)
                    md << " " << (r.receiver == "ours/Wine" ? Fixed(r.serverCpuSeconds, 3) : "-") << " |";
                md << "\n";
            }
        }
    }
    data.close();
    std::ofstream(out / "results.md") << md.str();
    std::printf("\n%s", md.str().c_str());

    // The plot, if gnuplot is there.
    std::string curves[2];
    for (int column : {2, 3})
        for (size_t k = 0; k < titles.size(); ++k)
            curves[column - 2] += (k ? ", " : "") + std::string("f index ") + std::to_string(k) + " using 1:" +
                                  std::to_string(column) + " with linespoints title '" + titles[k] + "'";
    std::ofstream plot(out / "plot.gp");
    plot << "set terminal pngcairo size 1100,800 font 'sans,10'\n"
         << "set output '" << (out / "throughput.png").string() << "'\n"
         << "set multiplot layout 2,1 title 'Entries per second and loss against offered rate (127.0.0.1:514)'\n"
         << "set logscale xy\nset grid\nset key left top\nset xlabel 'offered rate (messages/s)'\n"
         << "set ylabel 'entries/s (intact, in order)'\n"
         << "f='" << (out / "steps.dat").string() << "'\n"
         << "plot " << curves[0] << "\n"
         << "unset logscale y\nset yrange [0:100]\nset ylabel 'loss (%)'\n"
         << "plot " << curves[1] << "\n"
         << "unset multiplot\n";
    plot.close();
    if (std::system(("gnuplot " + (out / "plot.gp").string()).c_str()) != 0)
        std::fprintf(stderr, "relay_bench: gnuplot failed; no plot\n");
    return 0;
}
