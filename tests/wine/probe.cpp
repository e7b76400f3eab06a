// Asks Windows itself about the files we ship, for the Wine suite:
//   probe messages FILE ID[-LAST] [STRING...]  formats messages ID to LAST of FILE
//   probe system CODE...                the system's texts for CODE, asked for as
//                                       the install and remove commands ask
//   probe version FILE                  prints FILE's version resource
// Each result is one line on standard output, with CR and LF written as \r and \n.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void PrintEscaped(const char* label, const char* text) {
    std::string line = label;
    for (const char* p = text; *p; ++p) {
        if (*p == '\r')
            line += "\\r";
        else if (*p == '\n')
            line += "\\n";
        else
            line += *p;
    }
    std::printf("%s\n", line.c_str());
}

int FormatFromFile(const char* file, const char* ids, int count, char** strings) {
    // As the event log reads a message file: data only, no code of it runs.
    HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        std::printf("load failed: %lu\n", GetLastError());
        return 1;
    }
    std::vector<DWORD_PTR> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(reinterpret_cast<DWORD_PTR>(strings[i]));
    char* end = nullptr;
    DWORD first = std::strtoul(ids, &end, 10);
    DWORD last = *end == '-' ? std::strtoul(end + 1, nullptr, 10) : first;
    int failures = 0;
    for (DWORD id = first; id <= last; ++id) {
        char* text = nullptr;
        DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                          FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                      module, id, 0, reinterpret_cast<char*>(&text), 0,
                                      reinterpret_cast<va_list*>(arguments.data()));
        std::string label = std::to_string(id) + ": ";
        if (length == 0) {
            std::printf("%sfailed %lu\n", label.c_str(), GetLastError());
            ++failures;
            continue;
        }
        PrintEscaped(label.c_str(), text);
        LocalFree(text);
    }
    FreeLibrary(module);
    return failures == 0 ? 0 : 1;
}

int PrintSystemTexts(int count, char** codes) {
    for (int i = 0; i < count; ++i) {
        DWORD code = std::strtoul(codes[i], nullptr, 10);
        char* text = nullptr;
        DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                          FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
        std::string label = std::to_string(code) + ": ";
        if (length == 0) {
            std::printf("%sfailed %lu\n", label.c_str(), GetLastError());
            continue;
        }
        PrintEscaped(label.c_str(), text);
        LocalFree(text);
    }
    return 0;
}

int PrintVersion(const char* file) {
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(file, &ignored);
    if (size == 0) {
        std::printf("no version: %lu\n", GetLastError());
        return 1;
    }
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(file, 0, size, data.data())) {
        std::printf("no version: %lu\n", GetLastError());
        return 1;
    }
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT fixedSize = 0;
    if (VerQueryValueA(data.data(), "\\", reinterpret_cast<void**>(&fixed), &fixedSize))
        std::printf("FileVersion: %u.%u.%u.%u\nFileType: %lu\n", HIWORD(fixed->dwFileVersionMS),
                    LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
                    LOWORD(fixed->dwFileVersionLS), fixed->dwFileType);
    for (const char* name : {"ProductName", "FileDescription", "ProductVersion", "OriginalFilename"}) {
        std::string path = std::string("\\StringFileInfo\\040904b0\\") + name;
        char* value = nullptr;
        UINT valueSize = 0;
        if (VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &valueSize))
            std::printf("%s: %s\n", name, value);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "messages")
        return FormatFromFile(argv[2], argv[3], argc - 4, argv + 4);
    if (argc >= 3 && std::string(argv[1]) == "system")
        return PrintSystemTexts(argc - 2, argv + 2);
    if (argc == 3 && std::string(argv[1]) == "version")
        return PrintVersion(argv[2]);
    std::printf("usage: probe messages FILE ID[-LAST] [STRING...] | probe system CODE... | probe version FILE\n");
    return 2;
}
