// The Windows builds need nothing that a plain Windows does not have: the
// executable imports only system DLLs, the message file imports nothing.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <sstream>

#include "process.h"

namespace {

struct Build {
    const char* name;
    const char* directory;
    const char* objdump;
    const char* format; // as objdump names the file format
};

// Parts of every Windows of the NT family since Windows 2000. msvcrt.dll is the
// system's own C runtime, the one MinGW-w64 builds against; the C++ runtime,
// libgcc and winpthreads are linked in statically and must not show up here.
const std::set<std::string> systemDlls = {"advapi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
                                          "ws2_32.dll"};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

struct Headers {
    std::string format;
    std::string subsystem;
    std::string entryPoint;
    std::set<std::string> imports;
};

Headers ReadHeaders(const Build& build, const std::string& file) {
    Outcome dumped = Run({build.objdump, "-p", file});
    EXPECT_EQ(dumped.status, 0) << dumped.err;
    Headers headers;
    std::istringstream lines(dumped.out);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string first;
        words >> first;
        if (line.find("file format ") != std::string::npos)
            headers.format = line.substr(line.find("file format ") + 12);
        else if (first == "Subsystem")
            words >> headers.subsystem;
        else if (first == "AddressOfEntryPoint")
            words >> headers.entryPoint;
        else if (first == "DLL" && line.find("DLL Name: ") != std::string::npos)
            headers.imports.insert(Lower(line.substr(line.find("DLL Name: ") + 10)));
    }
    return headers;
}

class WindowsBuild : public ::testing::TestWithParam<Build> {
protected:
    void SetUp() override {
        const Build& build = GetParam();
        if (std::string(build.objdump).empty())
            GTEST_SKIP() << "no MinGW-w64 objdump for " << build.name << " on this machine";
        if (!std::filesystem::exists(File("QuarnelSysLog.exe")))
            GTEST_SKIP() << "the " << build.name << " build is not there: build it with "
                         << "cmake --preset " << build.name << " && cmake --build --preset "
                         << build.name << " (looked in " << build.directory << ")";
    }
    std::string File(const std::string& name) const {
        return std::string(GetParam().directory) + "/" + name;
    }
};

TEST_P(WindowsBuild, ExecutableImportsOnlySystemDlls) {
    Headers headers = ReadHeaders(GetParam(), File("QuarnelSysLog.exe"));
    EXPECT_EQ(headers.format, GetParam().format);
    // 3: the console subsystem, so that its lines reach the prompt that started it.
    EXPECT_EQ(headers.subsystem, "00000003");
    ASSERT_FALSE(headers.imports.empty());
    for (const auto& dll : headers.imports)
        EXPECT_TRUE(systemDlls.count(dll)) << dll << " is not on every Windows";
}

TEST_P(WindowsBuild, MessageFileHasNoCodeToRun) {
    ASSERT_TRUE(std::filesystem::exists(File("QuarnelSysLog.dll")));
    Headers headers = ReadHeaders(GetParam(), File("QuarnelSysLog.dll"));
    EXPECT_EQ(headers.format, GetParam().format);
    EXPECT_TRUE(headers.imports.empty());
    EXPECT_EQ(std::stoull(headers.entryPoint, nullptr, 16), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Presets, WindowsBuild,
    ::testing::Values(Build{"windows-x64", QUARNEL_WINDOWS_X64_DIR, QUARNEL_OBJDUMP_X64, "pei-x86-64"},
                      Build{"windows-x86", QUARNEL_WINDOWS_X86_DIR, QUARNEL_OBJDUMP_X86, "pei-i386"}),
    [](const auto& info) { return std::string(info.param.name == std::string("windows-x64") ? "x64" : "x86"); });

} // namespace
