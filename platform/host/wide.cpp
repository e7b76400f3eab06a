#include "wide.h"

namespace host::detail {

std::wstring Widen(const std::string& utf8) {
    std::wstring wide;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char lead = static_cast<unsigned char>(utf8[i]);
        int extra = lead >= 0xF8 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC2 ? 1 : 0;
        char32_t point = extra == 3 ? lead & 0x07 : extra == 2 ? lead & 0x0F : lead & 0x1F;
        bool valid = extra > 0;
        for (int k = 1; valid && k <= extra; ++k) {
            if (i + k >= utf8.size() || (static_cast<unsigned char>(utf8[i + k]) & 0xC0) != 0x80)
                valid = false;
            else
                point = (point << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        }
        if (valid) {
            wide += static_cast<wchar_t>(point);
            i += extra + 1;
        } else {
            wide += static_cast<wchar_t>(lead);
            ++i;
        }
    }
    return wide;
}

std::string Narrow(const std::wstring& wide) {
    std::string utf8;
    for (wchar_t c : wide) {
        auto point = static_cast<char32_t>(c);
        if (point < 0x80) {
            utf8 += static_cast<char>(point);
        } else if (point < 0x800) {
            utf8 += static_cast<char>(0xC0 | (point >> 6));
            utf8 += static_cast<char>(0x80 | (point & 0x3F));
        } else if (point < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (point >> 12));
            utf8 += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (point & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (point >> 18));
            utf8 += static_cast<char>(0x80 | ((point >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((point >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (point & 0x3F));
        }
    }
    return utf8;
}

} // namespace host::detail
