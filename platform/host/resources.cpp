#include "resources.h"

#include <cstring>
#include <elf.h>
#include <fstream>
#include <sstream>

#include "system.h"
#include "testing_install.h"

namespace host::detail {

namespace {

std::string Upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return text;
}

template <typename Header, typename Section>
DWORD FindSection(const std::string& image, const std::string& wanted, const std::string& typePrefix,
                  std::string* data) {
    if (image.size() < sizeof(Header))
        return ERROR_BAD_EXE_FORMAT;
    Header header;
    std::memcpy(&header, image.data(), sizeof header);
    auto count = static_cast<std::uint64_t>(header.e_shnum);
    auto offset = static_cast<std::uint64_t>(header.e_shoff);
    if (header.e_shentsize != sizeof(Section) || offset > image.size() ||
        count > (image.size() - offset) / sizeof(Section) || header.e_shstrndx >= count)
        return ERROR_BAD_EXE_FORMAT;
    auto section = [&](std::uint64_t i) {
        Section s;
        std::memcpy(&s, image.data() + offset + i * sizeof(Section), sizeof s);
        return s;
    };
    Section names = section(header.e_shstrndx);
    if (names.sh_offset > image.size() || names.sh_size > image.size() - names.sh_offset)
        return ERROR_BAD_EXE_FORMAT;
    std::string table = image.substr(names.sh_offset, names.sh_size);
    bool anyResource = false, anyOfType = false;
    for (std::uint64_t i = 0; i < count; ++i) {
        Section s = section(i);
        if (s.sh_name >= table.size())
            continue;
        std::string name = table.c_str() + s.sh_name;
        if (name.rfind(".rsrc.", 0) != 0)
            continue;
        anyResource = true;
        if (name.rfind(typePrefix, 0) != 0)
            continue;
        anyOfType = true;
        if (name != wanted)
            continue;
        if (s.sh_type == SHT_NOBITS || s.sh_offset > image.size() || s.sh_size > image.size() - s.sh_offset)
            return ERROR_BAD_EXE_FORMAT;
        *data = image.substr(s.sh_offset, s.sh_size);
        return ERROR_SUCCESS;
    }
    return !anyResource ? ERROR_RESOURCE_DATA_NOT_FOUND
           : !anyOfType ? ERROR_RESOURCE_TYPE_NOT_FOUND
                        : ERROR_RESOURCE_NAME_NOT_FOUND;
}

} // namespace

DWORD LoadModuleResource(const std::filesystem::path& module, const std::string& type, const std::string& name,
                         std::string* data) {
    std::ifstream file(module, std::ios::binary);
    if (!file || std::filesystem::is_directory(module))
        return ERROR_FILE_NOT_FOUND;
    std::ostringstream content;
    content << file.rdbuf();
    std::string image = content.str();
    if (image.size() < EI_NIDENT || std::memcmp(image.data(), ELFMAG, SELFMAG) != 0 ||
        image[EI_DATA] != ELFDATA2LSB)
        return ERROR_BAD_EXE_FORMAT;
    // Types and names given as text are found without regard to case, as on Windows.
    std::string prefix = ".rsrc." + Upper(type) + ".";
    std::string wanted = prefix + Upper(name);
    if (image[EI_CLASS] == ELFCLASS64)
        return FindSection<Elf64_Ehdr, Elf64_Shdr>(image, wanted, prefix, data);
    if (image[EI_CLASS] == ELFCLASS32)
        return FindSection<Elf32_Ehdr, Elf32_Shdr>(image, wanted, prefix, data);
    return ERROR_BAD_EXE_FORMAT;
}

} // namespace host::detail

namespace host {

std::optional<std::string> ModuleResource(const std::filesystem::path& path, const std::string& type, unsigned id) {
    std::string data;
    if (detail::LoadModuleResource(path, type, std::to_string(id), &data) != ERROR_SUCCESS)
        return std::nullopt;
    return data;
}

} // namespace host
