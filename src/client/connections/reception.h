// The server's content as the connection thread receives it: settings-file
// chunks in connect packets, and image sets in image packet pieces. The
// functions here work on bytes only; they check every length and number
// that comes from the server before they use it.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// --- Settings transfer -----------------------------------------------------

struct SettingsChunk {
    int32_t nChunk = 0; // 1-based
    int32_t nCount = 0;
    std::span<const uint8_t> bytes;
};

// +0 chunk number, +4 chunk count, +8 chunk length, +12 the bytes. Returns 0,
// or ERROR_INVALID_DATA_CODE when the payload is shorter than its head or
// the stated length does not fit in it.
uint32_t ParseSettingsChunk(std::span<const uint8_t> payload, SettingsChunk& chunk);

// A received settings file larger than this is refused.
inline constexpr uint64_t SETTINGS_TRANSFER_MAX = 64u << 20;

// Copies the server's settings (the text of the received file) into the
// text of the client's per-server settings file: [Camera] "PathList2" as
// "PathList", the camera keys of every section it names (a missing value as
// its default), [Settings] "Crypt" and "NoSleep", and [Camera] "Count".
// The camera list is read up to SAVED_ENTRY_MAX bytes, as LoadCameraInfo
// reads it back. Returns the number of camera sections copied, or -1 with
// `iniText` unchanged when *pfStop was set on the way or memory ran out.
int CopyServerSettings(std::string_view serverText, std::string& iniText,
                       const std::atomic<int32_t>* pfStop = nullptr);

// --- Image reception ---------------------------------------------------------

struct ImagePiece {
    int32_t nPiece = 0; // 1-based
    int32_t nCount = 0;
    std::span<const uint8_t> bytes;
};

// +0 piece number, +4 piece count, +8 piece length, +20 the bytes. Returns 0
// or ERROR_INVALID_DATA_CODE as ParseSettingsChunk does.
uint32_t ParseImagePiece(std::span<const uint8_t> payload, ImagePiece& piece);

// Limits of one image set: no real server comes near them (a set carries
// about 1,000,000 bytes and one image), but a hostile one must not make the
// client allocate without bound.
inline constexpr int32_t IMAGE_PIECES_MAX = 65536;
inline constexpr uint64_t IMAGE_SET_MAX = 256u << 20;

enum class PieceResult {
    Incomplete,    // waiting for more pieces
    Complete,      // the set is joined
    SequenceError, // piece number outside the set, or a repeated piece
    NoMemory,      // the pieces could not be held
    JoinFailed,    // the joined set could not be had; the pieces stay
};

// The pieces of the image set being received, joined in any order. The gate
// is -1 while image packets are not taken, else the number of pieces
// received of the current set.
class ImageAssembly {
  public:
    int32_t Gate() const { return nGate_; }
    void SetGate(int32_t nGate) { nGate_ = nGate; }
    void FreePieces();

    // Takes one piece; on Complete `set` holds the joined bytes and the gate
    // is 0 again.
    PieceResult Add(const ImagePiece& piece, std::vector<uint8_t>& set);

  private:
    PieceResult Join(std::vector<uint8_t>& set);

    int32_t nGate_ = -1;
    // Held by piece number: memory follows the pieces that came, not the
    // count a server claims, and a piece costs a lookup, not a scan.
    int32_t nCount_ = 0;
    std::map<int32_t, std::vector<uint8_t>> pieces_;
    uint64_t nTotal_ = 0;
};

// One record of a joined image set.
struct ImageRecord {
    uint64_t nFileTime = 0; // local time of the picture
    int32_t nCameraId = 0;  // 1-based position in the server's camera list
    uint32_t nSent = 0;
    uint32_t nAbandoned = 0;
    std::span<const uint8_t> jpeg;
};

// +0 number of images, +4 not used, then per record a 24-byte head (FILETIME,
// camera id, JPEG length, sent count, abandoned count) and the JPEG. Returns
// 0, or ERROR_INVALID_DATA_CODE when a record runs past the end of the set;
// the records before it are delivered all the same.
uint32_t ParseImageSet(std::span<const uint8_t> set, std::vector<ImageRecord>& records);

// --- Requests -----------------------------------------------------------------

struct CameraRequestFields;
struct PropertyRequestFields;

inline constexpr size_t CAMERA_REQUEST_SIZE = 136;
inline constexpr size_t PROPERTY_OPEN_SIZE = 12;
inline constexpr size_t PROPERTY_OPERATION_SIZE = 292;

// The payload of a camera request for camera nCameraId (the font text is cut
// to its 95 bytes and NUL-terminated).
std::vector<uint8_t> CameraRequestPayload(int32_t nCameraId, const CameraRequestFields& request);

// The payload of a property request: 12 bytes for kind 0, else 292.
std::vector<uint8_t> PropertyRequestPayload(int32_t nCameraId,
                                            const PropertyRequestFields& request);

// MD5 of "Brindleshank", the password and the 16-byte challenge.
void AuthDigest(std::string_view cPassword, std::span<const uint8_t, 16> challenge,
                uint8_t digest[16]);

} // namespace brindle
