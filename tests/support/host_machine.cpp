#include <nlohmann/json.hpp>

#include "host_machine.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "shell/status.h"

namespace {

// The log stores each byte 0x80-0xFF as the code point of the same value.
std::string Utf8ToBytes(const std::string& text) {
    std::string bytes;
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c >= 0xC0 && i + 1 < text.size()) {
            bytes += static_cast<char>(((c & 0x03) << 6) | (text[++i] & 0x3F));
        } else {
            bytes += static_cast<char>(c);
        }
    }
    return bytes;
}

} // namespace

std::vector<LoggedEvent> ReadEventLog() {
    std::vector<LoggedEvent> events;
    std::ifstream log(host::Root() / "eventlog" / "Application.jsonl");
    for (std::string line; std::getline(log, line);) {
        auto entry = nlohmann::json::parse(line);
        LoggedEvent event{Utf8ToBytes(entry.at("source")), entry.at("type"), entry.at("category"),
                          entry.at("event_id"), {}};
        for (const auto& text : entry.at("strings"))
            event.strings.push_back(Utf8ToBytes(text));
        events.push_back(event);
    }
    return events;
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return done();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool Called(const std::string& function) {
    auto calls = host::Calls();
    return std::find(calls.begin(), calls.end(), function) != calls.end();
}

void HostMachine::SetUp() {
    char pattern[] = "/tmp/quarnel-test-XXXXXX";
    root = mkdtemp(pattern);
    setenv("QUARNEL_HOST_ROOT", root.c_str(), 1);
    host::ClearFailures();
    host::ClearCalls();
    host::ClearStatusReports();
    host::SetWinsockVersion(0);
    consoleMode = false;
    serviceStatus = {};
    statusHandle = host::TestStatusHandle();
    nextCheckPoint = 1;
    lastErrorCode = 0;
}

void HostMachine::TearDown() {
    host::ClearFailures();
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}
