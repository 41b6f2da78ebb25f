// The INI text reader and editor over any bytes.
//
// Input: two name bytes' lengths, then the section name, the key name, and
// the rest as the text. Every read and edit must stay within the text, and
// an accepted edit must read back as written.
#include "common/ini_text.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace brindle;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    size_t nSection = data[0] % 16, nKey = data[1] % 16;
    data += 2;
    size -= 2;
    if (size < nSection + nKey)
        return 0;
    std::string_view all(reinterpret_cast<const char*>(data), size);
    std::string_view section = all.substr(0, nSection);
    std::string_view key = all.substr(nSection, nKey);
    std::string text(all.substr(nSection + nKey));

    IniTextGet(text, section, key);
    for (const std::string& name : IniTextSections(text))
        IniTextKeys(text, name);

    std::string edited = text;
    const std::string value = "\"v\"";
    if (IniTextSet(edited, section, key, value) == 0) {
        // The first matching section holds the key now, with its value.
        std::optional<std::string> back = IniTextGet(edited, section, key);
        if (!back || *back != "v")
            std::abort();
    } else if (edited != text) {
        std::abort(); // a refused edit changes nothing
    }
    IniTextDeleteKey(edited, section, key);
    IniTextDeleteSection(edited, section);
    return 0;
}
