#include "server/app/server_settings.h"

#include "common/settings.h"
#include "protocol/scrambler.h"

#include <algorithm>

namespace brindle {

namespace {

constexpr uint32_t PASSWD_BUFFER = 1024;
constexpr uint32_t FOLDER_BUFFER = 292;

SettingDescriptor Key(const std::string& file, const char* pcKey, uint32_t nFlags,
                      const void* pDefault, void* pValue) {
    SettingDescriptor setting;
    setting.pcSection = SETTINGS_SECTION;
    setting.pcKey = pcKey;
    setting.pDefault = pDefault;
    setting.pValue = pValue;
    setting.pcFile = file.c_str();
    setting.nFlags = nFlags;
    return setting;
}

std::string ReadText(const std::string& file, const char* pcKey, uint32_t nBuffer) {
    std::string buffer(nBuffer, '\0');
    SettingRead(Key(file, pcKey, SettingTextFlags(nBuffer), "", buffer.data()));
    buffer.resize(buffer.find('\0'));
    return buffer;
}

uint32_t ReadNumber(const std::string& file, const char* pcKey, uint32_t nFlags,
                    uint32_t nDefault) {
    return SettingRead(Key(file, pcKey, nFlags, &nDefault, nullptr));
}

} // namespace

void ReadServerSettings(const std::string& file, const std::string& dataFolder,
                        ServerSettings& settings) {
    settings.nDebug = ReadNumber(file, "Debug", SETTING_HEX, 0);
    settings.cFolder = ReadText(file, "Folder", FOLDER_BUFFER);
    if (settings.cFolder.empty())
        settings.cFolder = dataFolder;
    // An unsigned key read back as a huge number means a negative one was
    // written: it is brought to the nearer bound, 0.
    uint32_t nCrypt = ReadNumber(file, "Crypt", SETTING_SIGNED, 0);
    int32_t nSigned = static_cast<int32_t>(nCrypt);
    settings.nCrypt = static_cast<uint32_t>(std::clamp(nSigned, 0, 8));
    if (settings.nCrypt != nCrypt)
        SettingWriteNumber(Key(file, "Crypt", 0, nullptr, nullptr), settings.nCrypt);
    settings.fNoSleep = ReadNumber(file, "NoSleep", SETTING_YESNO, 0) != 0;
    std::string passwd = ReadText(file, "Passwd", PASSWD_BUFFER);
    settings.cPassword = TextToStampedSecret(passwd, settings.nPasswordStamp);
    settings.nPort = ReadNumber(file, "Port", 0, DEFAULT_SERVER_PORT);
    settings.fWebdav = ReadNumber(file, "Webdav", SETTING_YESNO, 0) != 0;
    settings.nLeft = static_cast<int32_t>(ReadNumber(file, "Left", SETTING_SIGNED, 0));
    settings.nTop = static_cast<int32_t>(ReadNumber(file, "Top", SETTING_SIGNED, 0));
    settings.nPacket = std::clamp<uint32_t>(ReadNumber(file, "Packet", 0, 65536), 1024, 65536);
    settings.nMaxImage = std::clamp<uint32_t>(ReadNumber(file, "MaxImage", 0, 256), 1, 256);
    settings.nTestCamera = ReadNumber(file, "TestCamera", 0, 0);
    uint32_t nPattern = ReadNumber(file, "TestPattern", 0, 0);
    settings.nTestPattern = nPattern <= 3 ? static_cast<int32_t>(nPattern) : 0;
    int32_t nWorkers = static_cast<int32_t>(
        ReadNumber(file, "CycleWorkers", SETTING_SIGNED, static_cast<uint32_t>(-1)));
    settings.nCycleWorkers = nWorkers < 0 ? -1 : std::min(nWorkers, CYCLE_WORKERS_MAX);
}

uint32_t WriteCryptAndNoSleep(const std::string& file, uint32_t nCrypt, bool fNoSleep) {
    uint32_t err = SettingWriteNumber(Key(file, "Crypt", 0, nullptr, nullptr), nCrypt);
    uint32_t err2 =
        SettingWriteNumber(Key(file, "NoSleep", SETTING_YESNO, nullptr, nullptr), fNoSleep);
    return err != 0 ? err : err2;
}

uint32_t WritePassword(const std::string& file, const std::string& password, uint64_t nStamp) {
    std::string text = StampedSecretToText(password, nStamp);
    return SettingWriteText(Key(file, "Passwd", SettingTextFlags(PASSWD_BUFFER), nullptr, nullptr),
                            text);
}

uint32_t WriteServerNumber(const std::string& file, const char* pcKey, uint32_t nFlags,
                           uint32_t nValue) {
    return SettingWriteNumber(Key(file, pcKey, nFlags, nullptr, nullptr), nValue);
}

uint32_t WriteServerText(const std::string& file, const char* pcKey, const std::string& text) {
    return SettingWriteText(Key(file, pcKey, SettingTextFlags(PASSWD_BUFFER), nullptr, nullptr),
                            text);
}

} // namespace brindle
