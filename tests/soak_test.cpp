// A long run of the receive loop in this process: many datagrams, valid,
// malformed and oversized, across stop and start cycles. The sender keeps at
// most a small window of datagrams unwritten, so the socket's queue never
// overflows and every valid datagram must come out as exactly one entry.
#include <dirent.h>
#include <fstream>
#include <malloc.h>
#include <nlohmann/json.hpp>
#include <thread>
#include <unistd.h>

#include "host_machine.h"
#include "relay/relay.h"
#include "shell/status.h"
#include "udp.h"

namespace {

constexpr int cycles = 10;
constexpr int datagramsPerCycle = 20000;
constexpr int quietCycles = 100;
constexpr int window = 32; // datagrams sent but not yet seen in the log

long OpenFds() {
    long count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir))
            ++count;
        ::closedir(dir);
    }
    return count;
}

std::size_t HeapInUse() { return mallinfo2().uordblks; }

std::filesystem::path LogFile() { return host::Root() / "eventlog" / "Application.jsonl"; }

// One datagram and the entry text it must give, if any.
struct Datagram {
    std::string bytes;
    enum Kind { Valid, Malformed, Oversized } kind;
    std::string entry; // Valid only
};

std::string Tag(int cycle, int seq) { return "c" + std::to_string(cycle) + "s" + std::to_string(seq) + ";"; }

// Every datagram carries its tag near its start, so that even a cut one can be
// told apart; the mix repeats every 20 datagrams.
Datagram Make(int cycle, int seq) {
    std::string tag = Tag(cycle, seq);
    std::string stamp = "Oct 11 22:14:15 soakhost soak[4242]: ";
    switch (seq % 20) {
    case 0: {
        std::string body = stamp + tag + " full ";
        body += std::string(1023 - 5 - body.size(), 'f');
        return {"<165>" + body, Datagram::Valid, body};
    }
    case 1: return {"no header " + tag, Datagram::Malformed, ""};
    case 2: return {"", Datagram::Malformed, ""};
    case 3: return {"<>" + tag, Datagram::Malformed, ""};
    case 4: return {" <13>" + tag, Datagram::Malformed, ""};
    case 5: return {std::string("\0<13>", 5) + tag, Datagram::Malformed, ""};
    case 6: return {"<14>" + tag + std::string(1200 + seq % 300, 'o'), Datagram::Oversized, ""};
    case 7: return {"<13>" + stamp + tag + " crlf\r\n", Datagram::Valid, stamp + tag + " crlf"};
    case 8:
        return {std::string("<30>") + stamp + tag + " nul" + std::string("\0after", 6), Datagram::Valid,
                stamp + tag + " nul"};
    case 9: return {"<-9>" + tag + "\xe9\xff", Datagram::Valid, tag + "\xe9\xff"};
    default: {
        std::string body = stamp + tag + " 'su root' failed for lonvick on /dev/pts/" + std::to_string(seq % 64);
        return {"<" + std::to_string(seq % 192) + ">" + body + "\n", Datagram::Valid, body};
    }
    }
}

// Reads what the log has gained since the last call.
class LogTail {
public:
    std::vector<std::string> NewStrings() {
        std::vector<std::string> strings;
        std::ifstream log(LogFile(), std::ios::binary);
        if (!log)
            return strings;
        log.seekg(offset);
        std::string line;
        while (std::getline(log, line)) {
            if (log.eof()) // a line still being written
                break;
            offset += static_cast<std::streamoff>(line.size()) + 1;
            auto entry = nlohmann::json::parse(line);
            std::string text = entry.at("strings").at(0);
            std::string bytes; // the log keeps bytes 0x80-0xFF as two-byte UTF-8
            for (std::size_t i = 0; i < text.size(); ++i) {
                unsigned char c = static_cast<unsigned char>(text[i]);
                if (c >= 0xC0 && i + 1 < text.size())
                    bytes += static_cast<char>(((c & 0x03) << 6) | (text[++i] & 0x3F));
                else
                    bytes += static_cast<char>(c);
            }
            strings.push_back(bytes);
        }
        return strings;
    }

private:
    std::streamoff offset = 0;
};

// The sequence number in an entry's tag, or -1.
int SeqOf(const std::string& text, int cycle) {
    std::string prefix = "c" + std::to_string(cycle) + "s";
    std::size_t at = text.find(prefix);
    if (at == std::string::npos)
        return -1;
    return std::atoi(text.c_str() + at + prefix.size());
}

class Soak : public ::testing::Test {
protected:
    // As HostMachine, but without clearing the call record: left off, it stays
    // off, as in the real executable.
    void SetUp() override {
        char pattern[] = "/tmp/quarnel-soak-XXXXXX";
        root = mkdtemp(pattern);
        setenv("QUARNEL_HOST_ROOT", root.c_str(), 1);
        host::ClearFailures();
        host::ClearStatusReports();
        consoleMode = false;
        serviceStatus = {};
        statusHandle = host::TestStatusHandle();
        nextCheckPoint = 1;
        lastErrorCode = 0;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }

    void Start() {
        host::ClearStatusReports();
        loop = std::thread([] { RunSyslogListener(0, nullptr); });
        ASSERT_TRUE(WaitFor([] {
            auto reports = host::StatusReports();
            return !reports.empty() && reports.back().dwCurrentState == SERVICE_RUNNING;
        }));
    }
    void Stop() {
        RequestListenerStop();
        loop.join();
    }
    std::string root;
    std::thread loop;
};

} // namespace

TEST_F(Soak, EveryValidDatagramBecomesOneEntryAndNothingIsLeftOpenOrGrows) {
    long fdsAtStart = OpenFds();
    long handlesAtStart = host::OpenHandles();
    std::size_t heapAfterFirstCycle = 0;
    auto began = std::chrono::steady_clock::now();
    long long sentTotal = 0;

    for (int cycle = 0; cycle < cycles; ++cycle) {
        Start();
        LogTail tail;
        std::vector<std::string> expected, written;
        int lastSeen = -1;
        for (int seq = 0; seq < datagramsPerCycle; ++seq) {
            Datagram d = Make(cycle, seq);
            // Datagrams are handled in order: once one is seen, all before it are done.
            while (seq - lastSeen > window) {
                for (auto& text : tail.NewStrings()) {
                    lastSeen = std::max(lastSeen, SeqOf(text, cycle));
                    written.push_back(std::move(text));
                }
                if (seq - lastSeen > window)
                    std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            SendDatagram(d.bytes);
            if (d.kind == Datagram::Valid)
                expected.push_back(d.entry);
        }
        // The last datagram of a cycle is valid (the mix ends on a default case).
        ASSERT_TRUE(WaitFor([&] {
            for (auto& text : tail.NewStrings()) {
                lastSeen = std::max(lastSeen, SeqOf(text, cycle));
                written.push_back(std::move(text));
            }
            return lastSeen == datagramsPerCycle - 1;
        }, std::chrono::seconds(30)));
        Stop();
        sentTotal += datagramsPerCycle;

        // Cut oversized datagrams may or may not give an entry; nothing else may.
        std::vector<std::string> validWritten;
        for (auto& text : written) {
            int seq = SeqOf(text, cycle);
            ASSERT_GE(seq, 0) << text;
            if (seq % 20 != 6)
                validWritten.push_back(std::move(text));
        }
        ASSERT_EQ(validWritten.size(), expected.size()) << "cycle " << cycle;
        for (std::size_t i = 0; i < expected.size(); ++i)
            ASSERT_EQ(validWritten[i], expected[i]) << "cycle " << cycle << " entry " << i;

        EXPECT_EQ(host::OpenHandles(), handlesAtStart) << "cycle " << cycle;
        EXPECT_EQ(OpenFds(), fdsAtStart) << "cycle " << cycle;
        std::filesystem::remove(LogFile());
        expected = {};
        written = {};
        validWritten = {};
        if (cycle == 0)
            heapAfterFirstCycle = HeapInUse();
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    for (int i = 0; i < quietCycles; ++i) {
        Start();
        Stop();
    }
    EXPECT_EQ(host::OpenHandles(), handlesAtStart);
    EXPECT_EQ(OpenFds(), fdsAtStart);
    std::size_t heapAtEnd = HeapInUse();
    // A leak of even a few bytes per message or per cycle would show here.
    EXPECT_LE(heapAtEnd, heapAfterFirstCycle + 64 * 1024)
        << "heap in use grew from " << heapAfterFirstCycle << " to " << heapAtEnd;
    std::printf("soak: %lld datagrams in %.1f s (%.0f/s), %d stop/start cycles; heap in use %zu -> %zu bytes\n",
                sentTotal, seconds, sentTotal / seconds, cycles + quietCycles, heapAfterFirstCycle, heapAtEnd);
}
