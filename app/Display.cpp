// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Display.h"

#include "core/TextCodec.h"
#include "core/Translate.h"

wxString ToDisplay(const std::string& bytes)
{
    const std::string text = DisplayableUtf8(bytes);
    return wxString::FromUTF8(text.data(), text.size());
}

std::string FromUser(const wxString& text)
{
    const wxScopedCharBuffer utf8 = text.utf8_str();
    return std::string(utf8.data(), utf8.length());
}

wxString MessageText(const std::string& bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i)
    {
        if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n')
            continue;
        text += bytes[i];
    }
    return ToDisplay(text);
}

wxString TrUi(const char* english)
{
    return wxString::FromUTF8(Tr(english));
}
