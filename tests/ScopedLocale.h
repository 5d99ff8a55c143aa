// SPDX-License-Identifier: GPL-3.0-or-later
// A test's own locale environment: LANG, LC_CTYPE and LC_ALL as given (null
// for unset), with the ANSI code page chosen again from them; the old values
// come back at the end.
#pragma once

#include "core/AnsiCodePage.h"

#include <cstdlib>
#include <optional>
#include <string>

class ScopedLocale
{
public:
    explicit ScopedLocale(const char* lang, const char* lcCtype = nullptr,
                          const char* lcAll = nullptr)
    {
        const char* values[3] = {lang, lcCtype, lcAll};
        for (int i = 0; i < 3; ++i) {
            if (const char* old = std::getenv(kNames[i]))
                m_old[i] = old;
            Set(kNames[i], values[i]);
        }
        ChooseAnsiCodePageAgain();
    }
    ~ScopedLocale()
    {
        for (int i = 0; i < 3; ++i)
            Set(kNames[i], m_old[i] ? m_old[i]->c_str() : nullptr);
        ChooseAnsiCodePageAgain();
    }
    ScopedLocale(const ScopedLocale&) = delete;
    ScopedLocale& operator=(const ScopedLocale&) = delete;

private:
    static void Set(const char* name, const char* value)
    {
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    static constexpr const char* kNames[3] = {"LANG", "LC_CTYPE", "LC_ALL"};
    std::optional<std::string> m_old[3];
};
