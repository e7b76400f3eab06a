// Shared by the host layer's own sources only.
#pragma once

#include <optional>
#include <string>

#include "testing.h"

namespace host::detail {

// Records the call and answers an injected failure for it, if one is due.
std::optional<DWORD> Enter(const char* function);

// Appends `line` to `path` in one write, so concurrent writers never interleave.
bool AppendLine(const std::filesystem::path& path, const std::string& line);

void HandleOpened();
void HandleClosed();

} // namespace host::detail
