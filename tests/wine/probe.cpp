// Asks Windows itself about the files we ship, for the Wine suite:
//   probe messages FILE ID [STRING...]  formats message ID of FILE with the strings
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

int FormatFromFile(const char* file, DWORD id, int count, char** strings) {
    // As the event log reads a message file: data only, no code of it runs.
    HMODULE module = LoadLibraryExA(file, nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (module == nullptr) {
        std::printf("load failed: %lu\n", GetLastError());
        return 1;
    }
    std::vector<DWORD_PTR> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(reinterpret_cast<DWORD_PTR>(strings[i]));
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_HMODULE |
                                      FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                  module, id, 0, reinterpret_cast<char*>(&text), 0,
                                  reinterpret_cast<va_list*>(arguments.data()));
    if (length == 0) {
        std::printf("format failed: %lu\n", GetLastError());
        FreeLibrary(module);
        return 1;
    }
    PrintEscaped("text: ", text);
    LocalFree(text);
    FreeLibrary(module);
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
        return FormatFromFile(argv[2], std::strtoul(argv[3], nullptr, 10), argc - 4, argv + 4);
    if (argc == 3 && std::string(argv[1]) == "version")
        return PrintVersion(argv[2]);
    std::printf("usage: probe messages FILE ID [STRING...] | probe version FILE\n");
    return 2;
}
