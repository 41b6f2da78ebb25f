#include "client/connections/reception.h"

#include "client/connections/server_params.h"
#include "common/error_codes.h"
#include "common/ini_text.h"
#include "common/list_text.h"
#include "common/little_endian.h"
#include "common/md5.h"
#include "common/settings.h"

#include "common/text_utils.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace brindle {

namespace {

// The fields of settings pieces, image sets and requests are signed.
int32_t LoadInt32(const uint8_t* p) {
    return static_cast<int32_t>(LoadLe32(p));
}

void StoreInt32(uint8_t* p, int32_t value) {
    StoreLe32(p, static_cast<uint32_t>(value));
}

// The camera keys the client keeps, with the values a missing key gets.
struct CopiedKey {
    const char* pcKey;
    const char* pcDefault;
};
constexpr CopiedKey kCameraKeys[] = {
    {"Name", ""},   {"Name2", ""},      {"Index", "1"},       {"Use", "No"},     {"Preview", "No"},
    {"Send", "No"}, {"Save", "No"},     {"Sensitivity", "5"}, {"Quality", "25"}, {"Cycle", "60"},
    {"Days", "31"}, {"FormatList", ""}, {"Format", "0"},      {"Change", "No"},  {"Time", "0"},
    {"Font", ""},   {"Connect", "0"},
};

std::string ValueOr(const IniIndex& from, std::string_view section, std::string_view key,
                    const char* pcDefault) {
    std::optional<std::string> value = from.Get(section, key);
    return SettingQuoteText(value ? *value : pcDefault);
}

} // namespace

uint32_t ParseSettingsChunk(std::span<const uint8_t> payload, SettingsChunk& chunk) {
    if (payload.size() < 12)
        return ERROR_INVALID_DATA_CODE;
    int32_t nLength = LoadInt32(payload.data() + 8);
    if (nLength < 0 || static_cast<size_t>(nLength) > payload.size() - 12)
        return ERROR_INVALID_DATA_CODE;
    chunk.nChunk = LoadInt32(payload.data());
    chunk.nCount = LoadInt32(payload.data() + 4);
    chunk.bytes = payload.subspan(12, static_cast<size_t>(nLength));
    return 0;
}

std::string ServerPathList(const IniIndex& server, const char* pcKey) {
    std::optional<std::string> list = server.Get("Camera", pcKey);
    if (!list)
        return {};
    return list->substr(0, Utf8FitLength(*list, SAVED_ENTRY_MAX));
}

int CopyServerSettings(std::string_view serverText, std::string& iniText,
                       const std::atomic<int32_t>* pfStop) {
    const IniIndex server(serverText);
    std::string pathList = ServerPathList(server, "PathList2");
    std::vector<IniEntry> entries;
    entries.push_back({"Camera", "PathList", SettingQuoteText(pathList)});
    int nCopied = 0;
    try {
        for (const std::string& section : ListSplitPlain(pathList)) {
            if (pfStop != nullptr && pfStop->load() != 0)
                return -1;
            if (IniCheckEntry(section, "Name", "") != 0)
                continue; // a name the file cannot hold
            for (const CopiedKey& key : kCameraKeys)
                entries.push_back(
                    {section, key.pcKey, ValueOr(server, section, key.pcKey, key.pcDefault)});
            ++nCopied;
        }
    } catch (const std::bad_alloc&) {
        // The sections read so far are copied; "Count" says how many.
    }
    try {
        entries.push_back({"Settings", "Crypt", ValueOr(server, "Settings", "Crypt", "0")});
        // The server's do-not-sleep switch travels back with every camera
        // request, so the client must know it rather than assume "No".
        entries.push_back({"Settings", "NoSleep", ValueOr(server, "Settings", "NoSleep", "No")});
        entries.push_back({"Camera", "Count", std::to_string(nCopied)});
        IniTextSetMany(iniText, entries);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return nCopied;
}

uint32_t ParseImagePiece(std::span<const uint8_t> payload, ImagePiece& piece) {
    if (payload.size() < 20)
        return ERROR_INVALID_DATA_CODE;
    int32_t nLength = LoadInt32(payload.data() + 8);
    if (nLength < 0 || static_cast<size_t>(nLength) > payload.size() - 20)
        return ERROR_INVALID_DATA_CODE;
    piece.nPiece = LoadInt32(payload.data());
    piece.nCount = LoadInt32(payload.data() + 4);
    piece.bytes = payload.subspan(20, static_cast<size_t>(nLength));
    return 0;
}

void ImageAssembly::FreePieces() {
    pieces_.clear();
    nCount_ = 0;
    nTotal_ = 0;
}

PieceResult ImageAssembly::Add(const ImagePiece& piece, std::vector<uint8_t>& set) {
    if (nGate_ == 0) {
        FreePieces();
        if (piece.nCount > IMAGE_PIECES_MAX)
            return PieceResult::SequenceError;
        nCount_ = std::max(piece.nCount, 0);
    }
    ++nGate_;
    if (piece.nPiece < 1 || piece.nPiece > nCount_ || pieces_.contains(piece.nPiece))
        return PieceResult::SequenceError;
    if (nTotal_ + piece.bytes.size() > IMAGE_SET_MAX)
        return PieceResult::NoMemory;
    try {
        pieces_.emplace(piece.nPiece, std::vector<uint8_t>(piece.bytes.begin(), piece.bytes.end()));
    } catch (const std::bad_alloc&) {
        return PieceResult::NoMemory;
    }
    nTotal_ += piece.bytes.size();
    if (pieces_.size() < static_cast<size_t>(nCount_))
        return PieceResult::Incomplete;
    return Join(set);
}

PieceResult ImageAssembly::Join(std::vector<uint8_t>& set) {
    try {
        set.resize(static_cast<size_t>(nTotal_));
    } catch (const std::bad_alloc&) {
        return PieceResult::JoinFailed;
    }
    size_t pos = 0;
    for (auto& [nPiece, bytes] : pieces_) {
        std::copy(bytes.begin(), bytes.end(), set.begin() + static_cast<ptrdiff_t>(pos));
        pos += bytes.size();
        std::vector<uint8_t>().swap(bytes);
    }
    nGate_ = 0;
    FreePieces();
    return PieceResult::Complete;
}

uint32_t ParseImageSet(std::span<const uint8_t> set, std::vector<ImageRecord>& records) {
    records.clear();
    if (set.size() < 8)
        return ERROR_INVALID_DATA_CODE;
    int32_t nImages = LoadInt32(set.data());
    size_t pos = 8;
    for (int32_t i = 0; i < nImages; ++i) {
        if (set.size() - pos < 24)
            return ERROR_INVALID_DATA_CODE;
        const uint8_t* head = set.data() + pos;
        int32_t nLength = LoadInt32(head + 12);
        if (nLength < 0 || static_cast<size_t>(nLength) > set.size() - pos - 24)
            return ERROR_INVALID_DATA_CODE;
        ImageRecord r;
        r.nFileTime = LoadLe64(head);
        r.nCameraId = LoadInt32(head + 8);
        r.nSent = static_cast<uint32_t>(LoadInt32(head + 16));
        r.nAbandoned = static_cast<uint32_t>(LoadInt32(head + 20));
        r.jpeg = set.subspan(pos + 24, static_cast<size_t>(nLength));
        records.push_back(r);
        pos += 24 + static_cast<size_t>(nLength);
    }
    return 0;
}

std::vector<uint8_t> CameraRequestPayload(int32_t nCameraId, const CameraRequestFields& request) {
    std::vector<uint8_t> p(CAMERA_REQUEST_SIZE, 0);
    const int32_t fields[] = {
        nCameraId,        request.nFlags, request.nFormat, request.nCycle, request.nSensitivity,
        request.nQuality, request.nTime,  request.nDays,   request.nCrypt, request.fNoSleep};
    for (size_t i = 0; i < std::size(fields); ++i)
        StoreInt32(p.data() + 4 * i, fields[i]);
    size_t n = std::min(request.cFont.size(), CAMERA_REQUEST_SIZE - 40 - 1);
    std::memcpy(p.data() + 40, request.cFont.data(), n);
    return p;
}

std::vector<uint8_t> PropertyRequestPayload(int32_t nCameraId,
                                            const PropertyRequestFields& request) {
    bool fOpen = request.nKind == 0;
    std::vector<uint8_t> p(fOpen ? PROPERTY_OPEN_SIZE : PROPERTY_OPERATION_SIZE, 0);
    StoreInt32(p.data(), nCameraId);
    StoreInt32(p.data() + 4, request.nKind);
    StoreInt32(p.data() + 8, fOpen ? 0 : static_cast<int32_t>(PROPERTY_OPERATION_SIZE - 12));
    if (!fOpen)
        for (size_t i = 0; i < request.anFields.size(); ++i)
            StoreInt32(p.data() + 12 + 4 * i, request.anFields[i]);
    return p;
}

void AuthDigest(std::string_view cPassword, std::span<const uint8_t, 16> challenge,
                uint8_t digest[16]) {
    static const char kProduct[] = "Brindleshank";
    Md5Context md5;
    Md5Init(md5);
    Md5Update(md5, kProduct, sizeof kProduct - 1);
    Md5Update(md5, cPassword.data(), cPassword.size());
    Md5Update(md5, challenge.data(), challenge.size());
    Md5Final(md5, digest);
}

} // namespace brindle
