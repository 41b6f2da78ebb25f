#include "common/settings.h"

#include "common/ascii.h"
#include "common/error_codes.h"
#include "common/ini_file.h"
#include "common/ini_text.h"
#include "common/text_utils.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>

namespace brindle {

namespace {

std::mutex g_programFileLock;
std::string g_programFile;

enum class Kind { Text, YesNo, Double, Hex, Signed, Unsigned };

Kind KindOf(uint32_t flags) {
    if (flags & SETTING_TEXT)
        return Kind::Text;
    if (flags & SETTING_YESNO)
        return Kind::YesNo;
    if (flags & SETTING_DOUBLE)
        return Kind::Double;
    if (flags & SETTING_HEX)
        return Kind::Hex;
    if (flags & SETTING_SIGNED)
        return Kind::Signed;
    return Kind::Unsigned;
}

unsigned WidthOf(uint32_t flags) {
    if (flags & SETTING_WIDTH8)
        return 8;
    if (flags & SETTING_WIDTH16)
        return 16;
    return 32;
}

uint32_t Truncate(uint32_t value, unsigned width) {
    return width == 32 ? value : value & ((1u << width) - 1);
}

uint32_t SignExtend(uint32_t value, unsigned width) {
    if (width == 8)
        return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(value)));
    if (width == 16)
        return static_cast<uint32_t>(static_cast<int32_t>(static_cast<int16_t>(value)));
    return value;
}

uint32_t LoadNumber(const void* p, unsigned width) {
    if (p == nullptr)
        return 0;
    if (width == 8)
        return *static_cast<const uint8_t*>(p);
    if (width == 16)
        return *static_cast<const uint16_t*>(p);
    return *static_cast<const uint32_t*>(p);
}

void StoreNumber(void* p, unsigned width, uint32_t value) {
    if (p == nullptr)
        return;
    if (width == 8)
        *static_cast<uint8_t*>(p) = static_cast<uint8_t>(value);
    else if (width == 16)
        *static_cast<uint16_t*>(p) = static_cast<uint16_t>(value);
    else
        *static_cast<uint32_t*>(p) = value;
}

// "%lX" / "%ld" / "%lu" reading (ScanNumber), wrapped to 32 bits. nullopt
// when there is no digit.
std::optional<uint32_t> ParseNumber(std::string_view s, bool hex) {
    std::optional<ScannedNumber> number = ScanNumber(s, hex ? 16 : 10);
    if (!number)
        return std::nullopt;
    return static_cast<uint32_t>(number->value);
}

std::optional<double> ParseDouble(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && IsSettingBlank(s[i]))
        ++i;
    if (i < s.size() && s[i] == '+')
        ++i;
    double value = 0;
    auto [end, ec] = std::from_chars(s.data() + i, s.data() + s.size(), value);
    if (ec != std::errc())
        return std::nullopt;
    return value;
}

// The value text of the setting, or nullopt when the file, section or key is
// missing or the descriptor cannot address it.
std::optional<std::string> ReadValueText(const SettingDescriptor& setting) {
    if (setting.pcSection == nullptr || setting.pcKey == nullptr)
        return std::nullopt;
    std::string path = SettingFilePath(setting);
    if (path.empty())
        return std::nullopt;
    std::string value;
    if (IniReadKey(path, setting.pcSection, setting.pcKey, value) != 0)
        return std::nullopt;
    return value;
}

uint32_t WriteValueText(const SettingDescriptor& setting, std::string_view text) {
    if (setting.pcSection == nullptr || setting.pcKey == nullptr)
        return ERROR_INVALID_PARAMETER_CODE;
    std::string path = SettingFilePath(setting);
    if (path.empty())
        return ERROR_PATH_NOT_FOUND_CODE;
    return IniWriteKey(path, setting.pcSection, setting.pcKey, text);
}

uint32_t ReadText(const SettingDescriptor& setting) {
    // The default may be the buffer that receives the value.
    std::string fallback = setting.pDefault ? static_cast<const char*>(setting.pDefault) : "";
    std::string text = ReadValueText(setting).value_or(fallback);
    size_t size = setting.nFlags & ~SETTING_TEXT;
    if (setting.pValue == nullptr)
        size = 256;
    if (size == 0)
        return 0;
    size_t count = Utf8FitLength(text, size - 1);
    if (setting.pValue != nullptr) {
        char* buffer = static_cast<char*>(setting.pValue);
        std::memcpy(buffer, text.data(), count);
        buffer[count] = '\0';
    }
    return static_cast<uint32_t>(count);
}

uint32_t ReadYesNo(const SettingDescriptor& setting) {
    bool byDefault = setting.pDefault && *static_cast<const uint32_t*>(setting.pDefault) != 0;
    std::optional<std::string> text = ReadValueText(setting);
    std::string_view word = text ? std::string_view(*text) : std::string_view();
    uint32_t flag = byDefault ? !IniNameEqual(word, "No") : IniNameEqual(word, "Yes");
    if (setting.pValue)
        *static_cast<uint32_t*>(setting.pValue) = flag;
    return flag;
}

uint32_t ReadDouble(const SettingDescriptor& setting) {
    double value = setting.pDefault ? *static_cast<const double*>(setting.pDefault) : 0.0;
    std::optional<std::string> text = ReadValueText(setting);
    if (text) {
        if (std::optional<double> parsed = ParseDouble(*text))
            value = *parsed;
    }
    if (setting.pValue)
        *static_cast<double*>(setting.pValue) = value;
    if (!(value > -2147483649.0 && value < 2147483648.0))
        return 0;
    return static_cast<uint32_t>(static_cast<int32_t>(value));
}

uint32_t ReadNumber(const SettingDescriptor& setting, Kind kind) {
    unsigned width = WidthOf(setting.nFlags);
    uint32_t value = LoadNumber(setting.pDefault, width);
    std::optional<std::string> text = ReadValueText(setting);
    if (text) {
        if (std::optional<uint32_t> parsed = ParseNumber(*text, kind == Kind::Hex))
            value = *parsed;
    }
    value = Truncate(value, width);
    StoreNumber(setting.pValue, width, value);
    return kind == Kind::Signed ? SignExtend(value, width) : value;
}

} // namespace

void SetProgramSettingsFile(const std::string& path) {
    std::lock_guard<std::mutex> lock(g_programFileLock);
    g_programFile = path;
}

std::string ProgramSettingsFile() {
    std::lock_guard<std::mutex> lock(g_programFileLock);
    return g_programFile;
}

std::string SettingFilePath(const SettingDescriptor& setting) {
    if (setting.pcFile != nullptr && std::strchr(setting.pcFile, '/') != nullptr)
        return setting.pcFile;
    std::string program = ProgramSettingsFile();
    if (setting.pcFile == nullptr || program.empty())
        return program;
    size_t slash = program.rfind('/');
    std::string folder = slash == std::string::npos ? std::string() : program.substr(0, slash + 1);
    return folder + setting.pcFile;
}

SettingDescriptor SettingBind(const SettingDescriptor& setting, const char* pcSection,
                              void* pValue) {
    SettingDescriptor bound = setting;
    bound.pcSection = pcSection;
    bound.pValue = pValue;
    return bound;
}

uint32_t SettingRead(const SettingDescriptor& setting) {
    switch (Kind kind = KindOf(setting.nFlags)) {
    case Kind::Text:
        return ReadText(setting);
    case Kind::YesNo:
        return ReadYesNo(setting);
    case Kind::Double:
        return ReadDouble(setting);
    default:
        return ReadNumber(setting, kind);
    }
}

std::string SettingQuoteText(std::string_view text) {
    char quote = 0;
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') &&
        text.back() == text.front())
        quote = text.front();
    else if (!text.empty() && (IsSettingBlank(text.front()) || IsSettingBlank(text.back())))
        quote = '"';
    if (quote == 0)
        return std::string(text);
    return quote + std::string(text) + quote;
}

std::string SettingFormatNumber(uint32_t flags, uint32_t nValue) {
    unsigned width = WidthOf(flags);
    uint32_t value = Truncate(nValue, width);
    char buffer[16];
    switch (KindOf(flags)) {
    case Kind::YesNo:
        return value ? "Yes" : "No";
    case Kind::Double:
        return SettingFormatDouble(static_cast<double>(value));
    case Kind::Hex:
        if (width == 8)
            std::snprintf(buffer, sizeof buffer, "%02X", value);
        else if (width == 16)
            std::snprintf(buffer, sizeof buffer, "%04X", value);
        else if (flags & SETTING_WIDTH32)
            std::snprintf(buffer, sizeof buffer, "%X", value);
        else
            std::snprintf(buffer, sizeof buffer, "%08X", value);
        return buffer;
    case Kind::Signed:
        std::snprintf(buffer, sizeof buffer, "%d", static_cast<int32_t>(SignExtend(value, width)));
        return buffer;
    default:
        std::snprintf(buffer, sizeof buffer, "%u", value);
        return buffer;
    }
}

// "%lf" without the locale: a desktop locale would otherwise write a comma.
std::string SettingFormatDouble(double value) {
    char buffer[400];
    auto [end, ec] =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    if (ec != std::errc())
        return "0.000000";
    return std::string(buffer, end);
}

uint32_t SettingWrite(const SettingDescriptor& setting) {
    const void* source = setting.pValue ? setting.pValue : setting.pDefault;
    switch (Kind kind = KindOf(setting.nFlags)) {
    case Kind::Text: {
        const char* text = source ? static_cast<const char*>(source) : "";
        size_t size = setting.nFlags & ~SETTING_TEXT;
        // A buffer that lost its NUL is read no further than its size.
        size_t length = setting.pValue && size ? strnlen(text, size) : std::strlen(text);
        return WriteValueText(setting, SettingQuoteText(std::string_view(text, length)));
    }
    case Kind::Double: {
        double value = source ? *static_cast<const double*>(source) : 0.0;
        return WriteValueText(setting, SettingFormatDouble(value));
    }
    case Kind::YesNo:
        return SettingWriteNumber(setting, LoadNumber(source, 32));
    default:
        (void)kind;
        return SettingWriteNumber(setting, LoadNumber(source, WidthOf(setting.nFlags)));
    }
}

uint32_t SettingWriteNumber(const SettingDescriptor& setting, uint32_t nValue) {
    uint32_t flags = setting.nFlags;
    if (flags & SETTING_TEXT)
        flags = 0; // a number into a text setting: plain unsigned decimal
    return WriteValueText(setting, SettingFormatNumber(flags, nValue));
}

uint32_t SettingWriteText(const SettingDescriptor& setting, std::string_view text) {
    return WriteValueText(setting, SettingQuoteText(text));
}

} // namespace brindle
