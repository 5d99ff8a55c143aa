// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Warning.h"

#include <cstdio>

namespace {

void WriteToStderr(const std::string& text)
{
    std::string line;
    line.reserve(text.size() + 1);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;   // a terminal wants "\n" alone
        line += text[i];
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

WarningHandler g_warningHandler = nullptr;

} // namespace

WarningHandler SetWarningHandler(WarningHandler handler)
{
    const WarningHandler previous = g_warningHandler;
    g_warningHandler = handler;
    return previous;
}

void ShowWarning(const std::string& text)
{
    if (g_warningHandler != nullptr)
        g_warningHandler(text);
    else
        WriteToStderr(text);
}
