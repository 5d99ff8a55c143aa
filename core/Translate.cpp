// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/Translate.h"

#include "platform/FileSystem.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <libintl.h>
#include <sys/stat.h>

void StartTranslations()
{
    const std::string program = ProgramFilePath();
    const std::string folder = program.substr(0, program.rfind('/') + 1);
    // Installed, the programs are in lib/mp3tavoly/ under the prefix; in the
    // build tree, in app/ beside locale/.
    for (const char* relative : {"../../share/locale", "../locale"}) {
        const std::string candidate = folder + relative;
        struct stat st;
        if (!program.empty() && stat(candidate.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            bindtextdomain(kTextDomain, candidate.c_str());
            break;
        }
    }
    bind_textdomain_codeset(kTextDomain, "UTF-8");
}

const char* Tr(const char* english)
{
    return dgettext(kTextDomain, english);
}

const char* TrN(const char* one, const char* many, unsigned long n)
{
    return dngettext(kTextDomain, one, many, n);
}

bool UsesCatalogue()
{
    // A catalogue's header is the translation of the empty text (named, so
    // that the extraction of texts passes it by).
    static const char kHeaderKey[] = "";
    return *dgettext(kTextDomain, kHeaderKey) != '\0';
}

std::string FormatText(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    std::string text;
    if (length > 0) {
        text.resize(static_cast<std::size_t>(length) + 1);
        std::vsnprintf(&text[0], text.size(), format, again);
        text.resize(static_cast<std::size_t>(length));
    }
    va_end(again);
    return text;
}

std::string EnglishErrorText(int err)
{
    if (const char* text = strerrordesc_np(err))
        return text;
    return "Unknown error " + std::to_string(err);
}

const char* TrReason(const char* english)
{
    const char* ours = Tr(english);
    if (ours != english)
        return ours;
    // The C library translates its descriptions in its own text domain; the
    // codeset follows the locale's, as strerror's does.
    return dgettext("libc", english);
}
