#include "common/ini_file.h"

#include "common/error_codes.h"
#include "common/file_io.h"
#include "common/ini_text.h"

#include <mutex>

namespace brindle {

namespace {

std::mutex g_iniWriteLock;

// Runs `edit` over the file text under the write lock and stores the result
// when it changed. A missing file starts empty and is created only when
// the edit gives it content.
template <typename Edit> uint32_t EditFile(const std::string& path, Edit edit) {
    std::lock_guard<std::mutex> lock(g_iniWriteLock);
    std::string text;
    uint32_t err = ReadWholeFile(path, INI_FILE_MAX, text);
    if (err != 0 && err != ERROR_FILE_NOT_FOUND_CODE)
        return err;
    std::string before = text;
    err = edit(text);
    if (err != 0 || text == before)
        return err;
    return WriteFileAtomically(path, text);
}

} // namespace

uint32_t IniReadFile(const std::string& path, std::string& text) {
    return ReadWholeFile(path, INI_FILE_MAX, text);
}

uint32_t IniReadKey(const std::string& path, std::string_view section, std::string_view key,
                    std::string& value) {
    value.clear();
    std::string text;
    if (uint32_t err = ReadWholeFile(path, INI_FILE_MAX, text))
        return err;
    std::optional<std::string> found = IniTextGet(text, section, key);
    if (!found)
        return ERROR_FILE_NOT_FOUND_CODE;
    value = std::move(*found);
    return 0;
}

uint32_t IniWriteKey(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view value) {
    if (uint32_t err = IniCheckEntry(section, key, value))
        return err;
    return EditFile(path, [&](std::string& text) { return IniTextSet(text, section, key, value); });
}

uint32_t IniEditFile(const std::string& path, const std::function<uint32_t(std::string&)>& edit) {
    return EditFile(path, edit);
}

uint32_t IniDeleteKey(const std::string& path, std::string_view section, std::string_view key) {
    return EditFile(path, [&](std::string& text) -> uint32_t {
        IniTextDeleteKey(text, section, key);
        return 0;
    });
}

uint32_t IniDeleteSection(const std::string& path, std::string_view section) {
    return EditFile(path, [&](std::string& text) -> uint32_t {
        IniTextDeleteSection(text, section);
        return 0;
    });
}

std::vector<std::string> IniSectionNames(const std::string& path) {
    std::string text;
    ReadWholeFile(path, INI_FILE_MAX, text);
    return IniTextSections(text);
}

std::vector<std::string> IniSectionKeys(const std::string& path, std::string_view section) {
    std::string text;
    ReadWholeFile(path, INI_FILE_MAX, text);
    return IniTextKeys(text, section);
}

} // namespace brindle
