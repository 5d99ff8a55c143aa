// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target: tag fields through the decoder, the name filter and the
// target name. Aborts when a result could not serve as a file name.
#include "core/TagFile.h"
#include "core/TextCodec.h"
#include "WellFormed.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

bool FitsAsName(const std::string& name)
{
    return !name.empty() && name.size() <= 255 && name != "." && name != ".."
           && name.find_first_of(std::string("\0/", 2)) == std::string::npos && WellFormed(name);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);

    // Any text: valid UTF-8 without zero bytes decodes as itself; anything
    // decodes to well-formed UTF-8.
    const std::string text = DecodeTagField(input);
    Check(WellFormed(text));
    if (WellFormed(input) && input.find('\0') == std::string::npos)
        Check(text == input);

    // Title and artist as the tag holds them: 30 bytes each.
    const std::string titleField = input.substr(0, 30);
    const std::string artistField = size > 30 ? input.substr(30, 30) : std::string();
    CTagFile tagFile;
    std::string title, artist;
    Check(tagFile.CleanName(titleField, title) == (titleField.empty() ? 0 : 1));
    tagFile.CleanName(artistField, artist);
    for (const std::string* part : {&title, &artist}) {
        Check(WellFormed(*part));
        for (const char c : *part) {
            const unsigned char u = static_cast<unsigned char>(c);
            Check(u >= 0x80 || (u >= '0' && u <= '9') || (u >= 'A' && u <= 'Z')
                  || (u >= 'a' && u <= 'z') || c == '-' || c == '_' || c == ' ');
        }
    }
    for (const bool artistFirst : {false, true}) {
        const std::string name = ComposeTargetName(title, artist, artistFirst);
        Check(FitsAsName(name));
        Check(name.size() >= 4 && name.compare(name.size() - 4, 4, ".mp3") == 0);
    }
    return 0;
}
