// SPDX-License-Identifier: GPL-3.0-or-later
// Random tag fields through the name filter and the codec, from a fixed seed so
// that every run checks the same inputs.
#include "core/TagFile.h"
#include "core/TextCodec.h"
#include "../ScopedLocale.h"
#include "TestFiles.h"

#include <gtest/gtest.h>
#include <memory>
#include <random>

namespace {

// Bytes that matter to the filter and the decoder turn up often.
std::string RandomField(std::mt19937& rng)
{
    static const unsigned char kInteresting[] = {0x00, ' ', '.', '/', '\\', 'a', 0x7F, 0x80, 0x81,
                                                 0x95, 0xA0, 0xBF, 0xC3, 0xE2, 0xED, 0xEF, 0xF0, 0xF4,
                                                 0xFF};
    std::string field(rng() % 33, '\0');
    for (char& c : field) {
        const unsigned r = static_cast<unsigned>(rng());
        c = static_cast<char>((r & 1) ? kInteresting[(r >> 1) % sizeof kInteresting] : r >> 8);
    }
    return field;
}

bool FitsAFileName(const std::string& name)
{
    return IsValidUtf8(name) && name.find_first_of(std::string("\0/\\", 3)) == std::string::npos
           && name != "." && name != "..";
}

TEST(RandomFields, NamesAndTextsStayWellFormed)
{
    std::mt19937 rng(20240611u);
    CTagFile tf;
    TempDir dir;
    const char* const locales[] = {"C", "ru_RU", "el_GR", "vi_VN", "ja_JP", "zh_CN", "ko_KR", "zh_TW"};
    std::unique_ptr<ScopedLocale> locale;
    for (int i = 0; i < 200000; ++i) {
        if (i % 25000 == 0)
            locale = std::make_unique<ScopedLocale>(locales[i / 25000]);
        const std::string field = RandomField(rng);
        const auto shown = ::testing::PrintToString(field);
        std::string cleaned;
        tf.CleanName(field, cleaned);
        ASSERT_TRUE(FitsAFileName(cleaned)) << shown;
        const std::string text = DecodeTagField(field);
        ASSERT_TRUE(IsValidUtf8(text) && IsValidUtf8(DisplayableUtf8(field))) << shown;

        // What the editor stores reads back as the start of what was typed.
        const std::string typed = text.substr(0, text.find('\0'));
        const std::string stored = EncodeTagText(typed, 30);
        const std::string readBack = DecodeTagField(stored);
        ASSERT_LE(stored.size(), 30u);
        ASSERT_EQ(typed.substr(0, readBack.size()), readBack) << shown;

        if (i % 100 == 0) {
            WriteBytes(dir / "r.mp3", Audio(10) + Record(field, RandomField(rng)));
            std::string title, artist;
            if (tf.ReadSongName(dir / "r.mp3", title, artist, "MP3") == kStateSuccessful) {
                ASSERT_TRUE(!title.empty() && FitsAFileName(ComposeTargetName(title, artist, true)))
                    << shown;
            }
        }
    }
}

} // namespace
