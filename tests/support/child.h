// A program of ours run as a separate process, the way a person would start it,
// with its standard output read back through a pipe.
#pragma once

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

struct Child {
    pid_t pid = -1;
    int output = -1; // standard output and standard error
    std::string seen;
};

// Starts `program` with `arguments`, QUARNEL_HOST_ROOT set to `hostRoot`.
Child StartChild(const std::string& program, const std::vector<std::string>& arguments,
                 const std::string& hostRoot);

// Reads until the output holds `text` or `limit` passes; true if it does.
bool ReadUntil(Child& child, const std::string& text,
               std::chrono::milliseconds limit = std::chrono::seconds(10));

// Reads the rest of the output and waits for the process; returns its wait status.
int FinishChild(Child& child, std::chrono::milliseconds limit = std::chrono::seconds(20));
