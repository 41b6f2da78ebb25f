// Where stored images live, and the 64-bit key that names one of them.
//
// Both programs keep one JPEG per image in dated folders:
//   BrindleHost: <image folder>/<camera folder>/<yyyymmdd>/<hhmmss-mmm>.jpg
//   BrindleView: <image folder>/<server>/<camera folder>/<yyyymmdd>/<hhmmss-mmm>.jpg
// All times are local wall-clock times. The key packs the same numbers so that
// comparing keys as unsigned 64-bit values orders images by capture time.
#pragma once

#include "platform/clock.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace brindle {

// ---------------------------------------------------------------------------
// Image key: bits 63-32 day number (yyyymmdd as a decimal number), bits 31-12
// time number (hhmmss as a decimal number), bits 11-0 milliseconds. Kept in
// memory as two 32-bit words, low word first (the native order here).

inline constexpr uint64_t MakeImageKey(uint32_t nDay, uint32_t nTime, uint32_t nMilli) {
    return (static_cast<uint64_t>(nDay) << 32) | (static_cast<uint64_t>(nTime & 0xFFFFFu) << 12) |
           (nMilli & 0xFFFu);
}
inline constexpr uint32_t ImageKeyDay(uint64_t key) {
    return static_cast<uint32_t>(key >> 32);
}
inline constexpr uint32_t ImageKeyTime(uint64_t key) {
    return static_cast<uint32_t>(key >> 12) & 0xFFFFFu;
}
inline constexpr uint32_t ImageKeyMilli(uint64_t key) {
    return static_cast<uint32_t>(key) & 0xFFFu;
}

// Day number yyyymmdd and time number hhmmss of a local time.
inline constexpr uint32_t DayNumber(const SystemTime& st) {
    return st.wYear * 10000u + st.wMonth * 100u + st.wDay;
}
inline constexpr uint32_t TimeNumber(const SystemTime& st) {
    return st.wHour * 10000u + st.wMinute * 100u + st.wSecond;
}

// True when the fields form a real calendar date (years 1-9999) and time of day.
bool IsValidTime(const SystemTime& st);

// True when the key names a real date and time (see IsValidTime).
bool IsValidImageKey(uint64_t key);

// Key of a local capture time (the fields are taken as they are; check them
// with IsValidTime first when they come from outside).
uint64_t ImageKeyFromTime(const SystemTime& st);

// The local time a key stands for (day of week filled in).
SystemTime ImageKeyToTime(uint64_t key);

// A key as FILETIME (100 ns units since 1601-01-01, local time) and back.
uint64_t ImageKeyToFileTime(uint64_t key);
uint64_t FileTimeToImageKey(uint64_t fileTime);

// ---------------------------------------------------------------------------
// Folder tree.

// The levels above the day folders of one camera. cServer is empty in
// BrindleHost, which has no server level.
struct ImageTree {
    std::string cFolder; // the image folder the user chose
    std::string cServer; // BrindleView: the server's name as the client lists it
    std::string cCamera; // the camera's folder name
};

// True for a name that is safe as one folder level: not empty, not "." or
// "..", no "/" and no NUL. Camera and server names come from settings files
// and from the network, so every path builder below checks them.
bool IsSafeFolderName(std::string_view name);

// "<image folder>/[<server>/]<camera folder>". Fails with
// ERROR_INVALID_PARAMETER_CODE when the image folder is empty or a level is
// not a safe folder name. The other builders fail the same way.
uint32_t CameraFolderPath(const ImageTree& tree, std::string& path);

// The camera folder path with ".lst" appended: the list file of the listing.
uint32_t ListFilePath(const ImageTree& tree, std::string& path);

// "yyyymmdd" and "hhmmss-mmm.jpg".
std::string DayFolderName(uint32_t nDay);
std::string ImageFileName(uint32_t nTime, uint32_t nMilli);

// The reader's form: the whole path of the image a key names, built at once.
uint32_t ImageFilePath(const ImageTree& tree, uint64_t key, std::string& path);

// The writer's form: builds the path of an image captured at `st` level by
// level and creates the server, camera and day folders that are missing (the
// image folder itself must exist: it may be a disk that is not mounted, and
// creating it would fill the wrong disk). Fails with
// ERROR_INVALID_PARAMETER_CODE for an invalid time or unsafe names, else with
// the mapped errno of the failing mkdir.
uint32_t CreateImagePath(const ImageTree& tree, const SystemTime& st, std::string& path);

// The hidden folder in each camera folder that holds images while they are
// being written. Listings and the cleanup walk only day folders, so a file
// here is never offered as an image.
inline constexpr char IMAGE_TEMP_FOLDER[] = ".partial";

// Stores the image captured at `st` whole: its bytes go to a temporary file
// in the camera folder's IMAGE_TEMP_FOLDER, are flushed to disk and only then
// renamed to their place in the day folder, replacing an old image of the
// same name (a symbolic link there is replaced, never followed). So an image
// name stands for a complete JPEG even after a crash or a power loss. Makes
// the folders that are missing, as CreateImagePath does. Fails as
// CreateImagePath, or with the mapped errno of the failing write; nothing is
// left behind then.
uint32_t SaveImageFile(const ImageTree& tree, const SystemTime& st, const void* data, size_t size);

// Removes what an interrupted write left in the image folder: temporary image
// files of the camera folders (in BrindleHost's and BrindleView's layout
// alike) and temporary list files. Run at start, before anything is saved.
void RemoveLeftoverImageTemps(const std::string& cFolder);

// Reads a whole image file of at most `maxSize` bytes into `data` (resized to
// the file size). A larger file fails with ERROR_BUFFER_OVERFLOW_CODE before
// anything is read; a symbolic link at `path` is not followed.
uint32_t ReadImageFile(const std::string& path, std::vector<uint8_t>& data,
                       size_t maxSize = 64u << 20);

} // namespace brindle
