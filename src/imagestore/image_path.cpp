#include "imagestore/image_path.h"

#include "common/error_codes.h"
#include "common/file_io.h"
#include "common/os_error.h"
#include "common/unique_fd.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brindle {

namespace {

bool IsLeapYear(unsigned year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

unsigned DaysInMonth(unsigned year, unsigned month) {
    static const unsigned kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

// Appends one level with a single "/" between the two (the image folder may
// end in a slash).
void AppendLevel(std::string& path, std::string_view name) {
    if (path.empty() || path.back() != '/')
        path += '/';
    path += name;
}

// The names of the folders in `folder` that may be camera or server levels:
// no day folders, no hidden folders, no links.
std::vector<std::string> SubFolders(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return names;
    while (struct dirent* e = ::readdir(dir)) {
        std::string_view name = e->d_name;
        if (name.empty() || name.front() == '.' ||
            (name.size() == 8 && name.find_first_not_of("0123456789") == std::string_view::npos))
            continue;
        struct stat st;
        if (::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(st.st_mode))
            names.emplace_back(name);
    }
    ::closedir(dir);
    return names;
}

// mkdir that treats an existing folder as success.
uint32_t MakeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST)
        return 0;
    return LastOsError();
}

} // namespace

bool IsValidTime(const SystemTime& st) {
    if (st.wYear < 1 || st.wYear > 9999 || st.wMonth < 1 || st.wMonth > 12)
        return false;
    if (st.wDay < 1 || st.wDay > DaysInMonth(st.wYear, st.wMonth))
        return false;
    return st.wHour <= 23 && st.wMinute <= 59 && st.wSecond <= 59 && st.wMilliseconds <= 999;
}

bool IsValidImageKey(uint64_t key) {
    const uint32_t nDay = ImageKeyDay(key);
    const uint32_t nTime = ImageKeyTime(key);
    SystemTime st;
    st.wYear = static_cast<uint16_t>(nDay / 10000 > 9999 ? 0 : nDay / 10000);
    st.wMonth = static_cast<uint16_t>(nDay / 100 % 100);
    st.wDay = static_cast<uint16_t>(nDay % 100);
    st.wHour = static_cast<uint16_t>(nTime / 10000 > 99 ? 99 : nTime / 10000);
    st.wMinute = static_cast<uint16_t>(nTime / 100 % 100);
    st.wSecond = static_cast<uint16_t>(nTime % 100);
    st.wMilliseconds = static_cast<uint16_t>(ImageKeyMilli(key));
    return IsValidTime(st);
}

uint64_t ImageKeyFromTime(const SystemTime& st) {
    return MakeImageKey(DayNumber(st), TimeNumber(st), st.wMilliseconds);
}

uint64_t ImageKeyToFileTime(uint64_t key) {
    const uint32_t nDay = ImageKeyDay(key);
    const uint32_t nTime = ImageKeyTime(key);
    SystemTime st;
    st.wYear = static_cast<uint16_t>(nDay / 10000);
    st.wMonth = static_cast<uint16_t>(nDay / 100 % 100);
    st.wDay = static_cast<uint16_t>(nDay % 100);
    st.wHour = static_cast<uint16_t>(nTime / 10000);
    st.wMinute = static_cast<uint16_t>(nTime / 100 % 100);
    st.wSecond = static_cast<uint16_t>(nTime % 100);
    st.wMilliseconds = static_cast<uint16_t>(ImageKeyMilli(key));
    return SystemTimeToFileTime(st);
}

SystemTime ImageKeyToTime(uint64_t key) {
    return FileTimeToSystemTime(ImageKeyToFileTime(key));
}

uint64_t FileTimeToImageKey(uint64_t fileTime) {
    return ImageKeyFromTime(FileTimeToSystemTime(fileTime));
}

bool IsSafeFolderName(std::string_view name) {
    if (name.empty() || name == "." || name == "..")
        return false;
    return name.find('/') == std::string_view::npos && name.find('\0') == std::string_view::npos;
}

uint32_t CameraFolderPath(const ImageTree& tree, std::string& path) {
    if (tree.cFolder.empty() || tree.cFolder.find('\0') != std::string::npos)
        return ERROR_INVALID_PARAMETER_CODE;
    if (!IsSafeFolderName(tree.cCamera))
        return ERROR_INVALID_PARAMETER_CODE;
    if (!tree.cServer.empty() && !IsSafeFolderName(tree.cServer))
        return ERROR_INVALID_PARAMETER_CODE;
    path = tree.cFolder;
    if (!tree.cServer.empty())
        AppendLevel(path, tree.cServer);
    AppendLevel(path, tree.cCamera);
    return 0;
}

uint32_t ListFilePath(const ImageTree& tree, std::string& path) {
    uint32_t rc = CameraFolderPath(tree, path);
    if (rc == 0)
        path += ".lst";
    return rc;
}

std::string DayFolderName(uint32_t nDay) {
    char text[16];
    std::snprintf(text, sizeof text, "%08u", nDay);
    return text;
}

std::string ImageFileName(uint32_t nTime, uint32_t nMilli) {
    char text[32];
    std::snprintf(text, sizeof text, "%06u-%03u.jpg", nTime, nMilli);
    return text;
}

uint32_t ImageFilePath(const ImageTree& tree, uint64_t key, std::string& path) {
    uint32_t rc = CameraFolderPath(tree, path);
    if (rc != 0)
        return rc;
    path += '/';
    path += DayFolderName(ImageKeyDay(key));
    path += '/';
    path += ImageFileName(ImageKeyTime(key), ImageKeyMilli(key));
    return 0;
}

uint32_t CreateImagePath(const ImageTree& tree, const SystemTime& st, std::string& path) {
    if (!IsValidTime(st))
        return ERROR_INVALID_PARAMETER_CODE;
    std::string camera;
    uint32_t rc = CameraFolderPath(tree, camera);
    if (rc != 0)
        return rc;
    // Step one: the camera folder (and on the client the server level above it).
    std::string folder = tree.cFolder;
    if (!tree.cServer.empty()) {
        AppendLevel(folder, tree.cServer);
        if ((rc = MakeFolder(folder)) != 0)
            return rc;
    }
    if ((rc = MakeFolder(camera)) != 0)
        return rc;
    // Step two: the day folder; step three: the file name.
    camera += '/';
    camera += DayFolderName(DayNumber(st));
    if ((rc = MakeFolder(camera)) != 0)
        return rc;
    camera += '/';
    camera += ImageFileName(TimeNumber(st), st.wMilliseconds);
    path = std::move(camera);
    return 0;
}

uint32_t SaveImageFile(const ImageTree& tree, const SystemTime& st, const void* data, size_t size) {
    if (!IsValidTime(st))
        return ERROR_INVALID_PARAMETER_CODE;
    std::string camera, path;
    uint32_t rc = CameraFolderPath(tree, camera);
    if (rc == 0)
        rc = ImageFilePath(tree, ImageKeyFromTime(st), path);
    if (rc != 0)
        return rc;
    const std::string temp = camera + '/' + IMAGE_TEMP_FOLDER;
    const std::string_view bytes(static_cast<const char*>(data), size);
    // The folders exist for every image of a day but the first; only when
    // one is missing are they made and the image written again.
    rc = WriteFileVia(temp, path, bytes);
    if (rc == ERROR_FILE_NOT_FOUND_CODE && (rc = CreateImagePath(tree, st, path)) == 0)
        rc = WriteFileVia(temp, path, bytes);
    return rc;
}

void RemoveLeftoverImageTemps(const std::string& cFolder) {
    // BrindleHost: <folder>/<camera>/.partial; BrindleView:
    // <folder>/<server>/<camera>/.partial. List files sit beside the camera
    // folders, so their temporary files too.
    RemoveLeftoverTempFiles(cFolder);
    for (const std::string& first : SubFolders(cFolder)) {
        const std::string level = cFolder + '/' + first;
        RemoveLeftoverTempFiles(level);
        RemoveLeftoverTempFiles(level + '/' + IMAGE_TEMP_FOLDER);
        for (const std::string& second : SubFolders(level))
            RemoveLeftoverTempFiles(level + '/' + second + '/' + IMAGE_TEMP_FOLDER);
    }
}

uint32_t ReadImageFile(const std::string& path, std::vector<uint8_t>& data, size_t maxSize) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd)
        return LastOsError();
    struct stat st;
    if (::fstat(fd.Get(), &st) != 0)
        return LastOsError();
    if (!S_ISREG(st.st_mode))
        return ERROR_INVALID_PARAMETER_CODE;
    if (static_cast<uint64_t>(st.st_size) > maxSize)
        return ERROR_BUFFER_OVERFLOW_CODE;
    data.resize(static_cast<size_t>(st.st_size));
    size_t got = 0;
    while (got < data.size()) {
        ssize_t n = ::read(fd.Get(), data.data() + got, data.size() - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return LastOsError();
        if (n == 0)
            break; // the file shrank while we read it
        got += static_cast<size_t>(n);
    }
    data.resize(got);
    return 0;
}

} // namespace brindle
