#include "core/Translate.h"

#include "platform/FileSystem.h"

#include <libintl.h>
#include <string>
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
