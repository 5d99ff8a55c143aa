// SPDX-License-Identifier: GPL-3.0-or-later
#include "core/TagFile.h"

#include "core/Translate.h"
#include "core/Warning.h"

bool CheckMp3FileName(const std::string& name)
{
    std::string suffix = name.size() >= 4 ? name.substr(name.size() - 4) : std::string();
    for (char& c : suffix) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    if (suffix != ".mp3") {
        // TRANSLATORS: a warning box; \r\n is its line break, keep it as it is.
        ShowWarning(Tr("Invalid file name!\r\nThe \".mp3\" suffix missed."));
        return false;
    }
    if (name.size() < 5) {
        // TRANSLATORS: a warning box; keep the trailing blank.
        ShowWarning(Tr("Invalid file name! "));
        return false;
    }
    if (name[0] == ' ') {
        ShowWarning(Tr("Invalid file name!\r\nThe first letter of the file name can not be blank."));
        return false;
    }
    return true;
}
