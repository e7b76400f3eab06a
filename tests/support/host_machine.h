// A fresh host machine for each test: its own state folder, no injected
// failures, and the system's process-wide state as at process start.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/host/testing.h"

struct LoggedEvent {
    std::string source;
    int type;
    int category;
    long long eventId;
    std::vector<std::string> strings; // bytes as the system passed them
};

// Entries of the host Application log, oldest first.
std::vector<LoggedEvent> ReadEventLog();

// Polls `done` until it holds or `limit` passes; returns its last answer.
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds limit = std::chrono::seconds(10));

// True once the named platform call has been made.
bool Called(const std::string& function);

class HostMachine : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    std::string root;
};
