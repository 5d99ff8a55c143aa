// SPDX-License-Identifier: GPL-3.0-or-later
// For the fuzz targets: whether a text is well-formed UTF-8, checked here
// rather than by the code under test.
#pragma once

#include <cstddef>
#include <string>

inline bool WellFormed(const std::string& s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        std::size_t n = c < 0x80 ? 0 : c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2
                      : c >= 0xF0 && c <= 0xF4 ? 3 : 9;
        if (n == 9 || i + n >= s.size())
            return false;
        char32_t cp = n == 0 ? c : c & (0x3F >> n);
        for (std::size_t k = 1; k <= n; ++k) {
            const unsigned char t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (t & 0x3F);
        }
        if ((n == 2 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF)))
            || (n == 3 && (cp < 0x10000 || cp > 0x10FFFF)))
            return false;
        i += n + 1;
    }
    return true;
}
