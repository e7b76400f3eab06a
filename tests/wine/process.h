// Programs of the machine (objdump, wine, logger) run from a test: no standard
// input, standard output and standard error read back apart.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

struct Outcome {
    int status = -1; // exit code, or 128 + signal
    std::string out;
    std::string err;
};

struct Process {
    pid_t pid = -1;
    int out = -1;
    int err = -1;
    Outcome seen;
};

// Starts argv[0] (looked up in PATH) in `directory` (empty: the test's own).
// With `logFile` set, standard output and error are appended there instead.
Process Start(const std::vector<std::string>& argv, const std::string& directory = "",
              const std::string& logFile = "");

// Reads until standard output holds `text` or `limit` passes; true if it does.
bool ReadUntil(Process& process, const std::string& text, std::chrono::milliseconds limit);

// Reads the rest and waits, killing the process once `limit` has passed.
Outcome Finish(Process& process, std::chrono::milliseconds limit = std::chrono::seconds(60));

inline Outcome Run(const std::vector<std::string>& argv, const std::string& directory = "",
                   std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    Process process = Start(argv, directory);
    return Finish(process, limit);
}

// The text with every CR LF turned into LF, as a console shows it.
std::string WithoutCarriageReturns(const std::string& text);
