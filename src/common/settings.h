// The typed settings layer over the INI files of common/ini_file.h.
//
// Each setting is a SettingDescriptor: where it lives (file, section, key),
// how it is encoded (flags), its default and the variable that holds it in
// memory. Descriptor tables belong to the code that owns the settings; this
// layer only reads and writes one descriptor at a time. It keeps no state of
// its own besides the path of the program's settings file, so any thread may
// call it; the INI layer serialises the writes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

// Flag word of a descriptor: type and width.
inline constexpr uint32_t SETTING_TEXT = 0x80000000;   // bits 0-30: buffer size incl. NUL
inline constexpr uint32_t SETTING_YESNO = 0x00000010;  // 32-bit flag, "Yes"/"No"
inline constexpr uint32_t SETTING_DOUBLE = 0x00000020; // double, "%lf"
inline constexpr uint32_t SETTING_HEX = 0x40000000;    // number in hexadecimal
inline constexpr uint32_t SETTING_SIGNED = 0x20000000; // signed decimal (else unsigned)
inline constexpr uint32_t SETTING_WIDTH32 = 0x00000001;
inline constexpr uint32_t SETTING_WIDTH8 = 0x00000002;
inline constexpr uint32_t SETTING_WIDTH16 = 0x00000004; // no width bit: 32 bits

// Flags of a text setting held in a buffer of `bufferSize` bytes.
constexpr uint32_t SettingTextFlags(uint32_t bufferSize) {
    return SETTING_TEXT | (bufferSize & ~SETTING_TEXT);
}

// One typed INI setting.
//
// - pcSection: may be null in a template and set at run time (see SettingBind).
// - pDefault: for numbers a value of the setting's width (uint8_t, uint16_t,
//   uint32_t or their signed forms), for a double a double, for Yes/No a
//   32-bit flag, for text a NUL-terminated text; null means 0, false or "".
//   It may point at the same variable as pValue: the variable's initial
//   value is then the default.
// - pValue: the variable (for text: a buffer of the size in the flags); null
//   when the caller only wants the return value.
// - pcFile: a path containing "/" is used as it is; a bare file name lies in
//   the folder of the program's settings file; null is the program's
//   settings file itself (SetProgramSettingsFile).
struct SettingDescriptor {
    const char* pcSection = nullptr;
    const char* pcKey = nullptr;
    const void* pDefault = nullptr;
    void* pValue = nullptr;
    const char* pcFile = nullptr;
    uint32_t nFlags = 0;
};

// Sets the program's own settings file ("<data folder>/BrindleHost.ini" or
// "BrindleView.ini"); called once at start-up, before any setting is used.
void SetProgramSettingsFile(const std::string& path);
std::string ProgramSettingsFile();

// The file a descriptor addresses; empty when it names none (a null or bare
// file field before SetProgramSettingsFile).
std::string SettingFilePath(const SettingDescriptor& setting);

// A copy of a per-camera (or other per-record) template bound to one section
// and one variable. The copy is the caller's, so threads can use the same
// template at once.
SettingDescriptor SettingBind(const SettingDescriptor& setting, const char* pcSection,
                              void* pValue);

// Reads the setting into its variable (when pValue is set) and returns it:
// the number truncated to the setting's width (sign-extended for signed
// settings), the Yes/No flag as 1 or 0, the integer part of a double (0 when
// it does not fit 32 bits), or for text the number of bytes stored. Reads
// never fail: a missing file, section, key, an empty value or one that is no
// number gives the default. Text is cut to the buffer at a character
// boundary and always NUL-terminated.
uint32_t SettingRead(const SettingDescriptor& setting);

// Writes the variable's value (the default when pValue is null). Returns 0,
// ERROR_INVALID_PARAMETER_CODE for a missing section or key or a text with a
// line break, ERROR_PATH_NOT_FOUND_CODE when the descriptor names no file, or
// the system code of a failed file write.
uint32_t SettingWrite(const SettingDescriptor& setting);

// Writes `nValue` (truncated to the setting's width) in the setting's
// encoding instead of the variable's value. Returns as SettingWrite.
uint32_t SettingWriteNumber(const SettingDescriptor& setting, uint32_t nValue);

// Writes `text` as a text setting under the descriptor's file, section and
// key. Returns as SettingWrite.
uint32_t SettingWriteText(const SettingDescriptor& setting, std::string_view text);

// The file form of a text: a text that reading would change (one that begins
// and ends with the same quotation mark, or has blanks at either end) is put
// inside one more pair of quotation marks.
std::string SettingQuoteText(std::string_view text);

// The file form of a number or a Yes/No flag per `flags`, and of a double.
std::string SettingFormatNumber(uint32_t flags, uint32_t nValue);
std::string SettingFormatDouble(double value);

} // namespace brindle
