// Resources of a host module: the build puts each file that the resource
// description names into an ELF section ".rsrc.<TYPE>.<NAME>" of the module.
#pragma once

#include <filesystem>
#include <string>

#include "base.h"

namespace host::detail {

// The resource's bytes into *data, or the Windows error code that loading the
// module as a data file and finding the resource would give.
DWORD LoadModuleResource(const std::filesystem::path& module, const std::string& type,
                         const std::string& name, std::string* data);

} // namespace host::detail
