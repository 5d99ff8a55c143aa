// libFuzzer target: any tag field through the decoder, the name filter and the
// editor's encoder. Aborts when a result could not serve as a file name or
// would not read back.
#include "core/TagFile.h"
#include "core/TextCodec.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string field(reinterpret_cast<const char*>(data), size);

    static CTagFile tagFile;
    std::string name;
    tagFile.CleanName(field, name);
    Check(IsValidUtf8(name));
    Check(name.find_first_of(std::string("\0/\\", 3)) == std::string::npos);
    Check(name != "." && name != "..");

    const std::string text = DecodeTagField(field);
    Check(IsValidUtf8(text));
    Check(IsValidUtf8(DisplayableUtf8(field)));

    const std::string typed = text.substr(0, text.find('\0'));
    const std::string stored = EncodeTagText(typed, 30);
    Check(stored.size() <= 30);
    const std::string readBack = DecodeTagField(stored);
    Check(typed.compare(0, readBack.size(), readBack) == 0);
    return 0;
}
