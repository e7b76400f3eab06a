// Wide strings on the host: wchar_t holds one code point; file names and the
// registry file keep UTF-8.
#pragma once

#include <string>

namespace host::detail {

// Bytes that are not UTF-8 stand for the code point of the same value.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

} // namespace host::detail
