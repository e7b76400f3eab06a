#include "wine_trace.h"

#include <map>
#include <regex>
#include <sstream>

namespace {

struct Line {
    std::string thread; // "pid:tid"
    std::string pid;
    std::string rest; // "class:channel:function text"
};

std::vector<Line> Lines(const std::string& trace) {
    static const std::regex prefix(R"(^([0-9a-f]{4,}):([0-9a-f]{4,}):(.*)$)");
    std::vector<Line> lines;
    std::istringstream in(trace);
    for (std::string text; std::getline(in, text);) {
        std::smatch m;
        if (std::regex_match(text, m, prefix))
            lines.push_back({m[1].str() + ":" + m[2].str(), m[1].str(), m[3].str()});
    }
    return lines;
}

// Undoes the escapes of Wine's debugstr_w for the characters a test sends.
std::string Unescape(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        switch (c) {
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'x': {
            unsigned value = std::stoul(text.substr(i + 1, 2), nullptr, 16);
            out += static_cast<char>(value);
            i += 2;
            break;
        }
        case 'u': {
            unsigned value = std::stoul(text.substr(i + 1, 4), nullptr, 16);
            out += value < 0x80 ? std::string(1, static_cast<char>(value)) : "?";
            i += 4;
            break;
        }
        default: out += c;
        }
    }
    return out;
}

std::uint32_t Hex(const std::string& text) { return static_cast<std::uint32_t>(std::stoul(text, nullptr, 16)); }

} // namespace

std::vector<TracedEntry> TracedEntries(const std::string& trace) {
    // fixme:advapi:ReportEventA (handle,type,category,id,sid,count,size,strings,data): stub
    static const std::regex call(
        R"(^fixme:advapi:ReportEventA \([0-9A-Fa-f]+,0x([0-9a-f]+),0x([0-9a-f]+),0x([0-9a-f]+),[0-9A-Fa-f]+,0x([0-9a-f]+),.*)");
    // One line per string, in the class that matches the type: trace, warn or err.
    static const std::regex string(R"re(^(?:trace|warn|err):eventlog:ReportEventW L"(.*)"$)re");
    std::vector<TracedEntry> entries;
    std::map<std::string, std::pair<std::size_t, std::size_t>> open; // thread -> entry, strings left
    for (const Line& line : Lines(trace)) {
        std::smatch m;
        if (std::regex_match(line.rest, m, call)) {
            entries.push_back({Hex(m[1]), Hex(m[2]), Hex(m[3]), {}});
            open[line.thread] = {entries.size() - 1, Hex(m[4])};
        } else if (std::regex_match(line.rest, m, string)) {
            auto it = open.find(line.thread);
            if (it == open.end() || it->second.second == 0)
                continue;
            entries[it->second.first].strings.push_back(Unescape(m[1]));
            --it->second.second;
        }
    }
    // Drop the last entry of a thread if its strings are still being written.
    std::vector<TracedEntry> complete;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        bool pending = false;
        for (const auto& [thread, state] : open)
            pending = pending || (state.first == i && state.second > 0);
        if (!pending)
            complete.push_back(entries[i]);
    }
    return complete;
}

std::vector<TracedStatus> TracedStatusReports(const std::string& trace, const std::string& service) {
    const std::string registered = "trace:service:RegisterServiceCtrlHandlerExW L\"" + service + "\"";
    // trace:service:SetServiceStatus handle type state accepted exit specific checkpoint hint
    static const std::regex report(
        R"(^trace:service:SetServiceStatus [0-9A-Fa-f]+ (\w+) (\w+) (\w+) (\w+) (\w+) (\w+) (\w+)$)");
    std::vector<Line> lines = Lines(trace);
    std::string pid;
    for (const Line& line : lines)
        if (line.rest.rfind(registered, 0) == 0)
            pid = line.pid;
    std::vector<TracedStatus> reports;
    for (const Line& line : lines) {
        std::smatch m;
        if (line.pid == pid && std::regex_match(line.rest, m, report))
            reports.push_back({Hex(m[1]), Hex(m[2]), Hex(m[3]), Hex(m[4]), Hex(m[5]), Hex(m[6]), Hex(m[7])});
    }
    return reports;
}

std::string Describe(const TracedEntry& entry) {
    std::ostringstream out;
    out << "{type " << entry.type << ", category " << entry.category << ", id " << entry.eventId;
    for (const auto& s : entry.strings)
        out << ", \"" << s << "\"";
    out << "}";
    return out.str();
}

std::string Describe(const TracedStatus& s) {
    std::ostringstream out;
    out << "{state " << s.state << ", accepted " << s.accepted << ", exit " << s.win32ExitCode
        << ", check point " << s.checkPoint << ", wait " << s.waitHint << "}";
    return out.str();
}
