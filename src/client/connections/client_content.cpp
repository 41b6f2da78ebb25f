// The server's content on the client's link: its settings file, which
// becomes the per-server settings file and camera table, and its image
// sets, which are stored under the save folder and shown live.
#include "client/connections/client_link.h"
#include "common/error_codes.h"
#include "common/file_io.h"
#include "common/ini_file.h"
#include "common/log.h"
#include "common/os_error.h"
#include "imagestore/image_path.h"
#include "platform/clock.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace brindle {

namespace {

// Writes all of `bytes`; false on a failed or short write.
bool WriteAll(int fd, std::span<const uint8_t> bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// "%04hu-%02hu-%02hu %02hu:%02hu:%02hu.%03hu" of a picture's time.
std::string TimeText(const SystemTime& st) {
    char text[40];
    std::snprintf(text, sizeof text, "%04hu-%02hu-%02hu %02hu:%02hu:%02hu.%03hu", st.wYear,
                  st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    return text;
}

// The camera as log lines name it: "カメラ<name> [<index>]" or "カメラ<name>".
std::string CameraText(const std::string& cName, int32_t nIndex) {
    return nIndex > 1 ? "カメラ" + cName + " [" + std::to_string(nIndex) + "]" : "カメラ" + cName;
}

} // namespace

void ClientLink::DropSettingsFile(bool fDelete) {
    if (!settingsFile_.Valid())
        return;
    settingsFile_.Reset();
    if (fDelete)
        ::unlink(ServerTempPath(ctx_.cDataFolder, psp_.cAddress, psp_.nPort).c_str());
}

ClientLink::Next ClientLink::OnSettingsChunk(std::span<const uint8_t> payload) {
    if (psp_.qwPasswordStamp != nServerStamp_) {
        psp_.qwPasswordStamp = nServerStamp_;
        SavePasswd(ctx_, psp_);
    }
    SettingsChunk chunk;
    if (ParseSettingsChunk(payload, chunk) != 0 || chunk.nChunk != psp_.nSettingsChunk.load() + 1)
        return Next::Teardown;
    if (chunk.nChunk == 1) {
        std::string temp = ServerTempPath(ctx_.cDataFolder, psp_.cAddress, psp_.nPort);
        settingsFile_.Reset(
            ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600));
        nSettingsBytes_ = 0;
        if (!settingsFile_.Valid()) {
            host_.ShowMessage("サーバ設定の保存ファイルが作成できません!", 0);
            psp_.fStop = 1;
            return Next::Teardown;
        }
    }
    nSettingsBytes_ += chunk.bytes.size();
    if (!settingsFile_.Valid() || nSettingsBytes_ > SETTINGS_TRANSFER_MAX ||
        !WriteAll(settingsFile_.Get(), chunk.bytes)) {
        host_.ShowMessage("サーバ設定の保存ファイルに書き込みできません!", 0);
        psp_.fStop = 1;
        DropSettingsFile(true);
        return Next::Teardown;
    }
    psp_.nSettingsChunk = chunk.nChunk;
    if (chunk.nChunk < chunk.nCount) {
        SetAnswerClock();
        return Next::Continue;
    }
    return FinishSettingsTransfer();
}

// The whole file is here: its camera keys go into the per-server settings
// file, the camera table is rebuilt and the link is online.
ClientLink::Next ClientLink::FinishSettingsTransfer() {
    settingsFile_.Reset();
    std::string temp = ServerTempPath(ctx_.cDataFolder, psp_.cAddress, psp_.nPort);
    psp_.cServerIni = ServerIniPath(ctx_.cDataFolder, psp_.cAddress, psp_.nPort);
    std::string serverText;
    ReadWholeFile(temp, SETTINGS_TRANSFER_MAX, serverText);
    // Read, merged and replaced under the INI lock: a key that another
    // thread writes into the file meanwhile ("Webdav") is not lost.
    bool fStopped = false;
    uint32_t rc = IniEditFile(psp_.cServerIni, [&](std::string& iniText) -> uint32_t {
        fStopped = CopyServerSettings(serverText, iniText, &psp_.fStop) < 0;
        return fStopped ? ERROR_CANCELLED_CODE : 0;
    });
    if (fStopped) {
        ::unlink(temp.c_str());
        return Next::Teardown;
    }
    if (rc != 0)
        LogWrite("サーバ%sの設定ファイル保存に失敗(0x%08X)\r\n", Address(), rc);
    ::unlink(temp.c_str());
    // The camera table is rebuilt before the link counts as online, so that
    // whoever sees fOnline also sees the table.
    psp_.loadCameraInfo = 0;
    psp_.nSettingsChunk = -1;
    nEchoClock_ = Now();
    LoadCameraInfo(ctx_, psp_, &psp_.fStop);
    if (psp_.relayPeer) {
        // From now on every file carries the next check value of the chain
        // that this log-in begins (zero after a log-in without password).
        RelayCheckValue chain;
        std::copy(psp_.abDigest.begin(), psp_.abDigest.end(), chain.begin());
        // The server checks with the password it asked for; without a
        // challenge in this log-in it has none, whatever we have saved.
        psp_.relayPeer->SetLogin(fAuthAnswered_ ? psp_.cPassword : std::string(), chain);
        psp_.relayPeer->fLoggedIn = true;
    }
    psp_.fOnline = 1;
    UpdateServerState();
    host_.SettingsTransferred(psp_);
    assembly_.SetGate(0);
    nAnswerClock_ = 0;
    return Next::Continue;
}

ClientLink::Next ClientLink::OnImagePiece(std::span<const uint8_t> payload, uint16_t nType,
                                          uint32_t nFlags) {
    if (assembly_.Gate() < 0)
        return Next::Continue;
    if (psp_.fOnline.load() != 0)
        nAnswerClock_ = 0;
    ImagePiece piece;
    std::vector<uint8_t> set;
    PieceResult result = ParseImagePiece(payload, piece) != 0 ? PieceResult::SequenceError
                                                              : assembly_.Add(piece, set);
    switch (result) {
    case PieceResult::Incomplete:
        return Next::Continue;
    case PieceResult::SequenceError:
        LogWrite("サーバ%sのカメラ画像受信シーケンスエラー%d/%d\r\n", Address(), piece.nPiece,
                 piece.nCount);
        return Next::Teardown;
    case PieceResult::NoMemory:
        LogWrite("サーバ%sのカメラ画像受信メモリ確保失敗\r\n", Address());
        return Next::Teardown;
    case PieceResult::JoinFailed:
        LogWrite("サーバ%sのカメラ画像受信データ保持メモリ確保失敗\r\n", Address());
        return Next::Continue;
    case PieceResult::Complete:
        break;
    }
    nEchoClock_ = Now();
    StoreImageSet(set, nType, nFlags);
    return Next::Continue;
}

void ClientLink::StoreImageSet(std::span<const uint8_t> set, uint16_t nType, uint32_t nFlags) {
    std::vector<ImageRecord> records;
    if (ParseImageSet(set, records) != 0)
        LogWrite("サーバ%sの受信画像データ長不正(%zu)\r\n", Address(), set.size());
    for (const ImageRecord& record : records)
        StoreImageRecord(record, nType, nFlags);
}

void ClientLink::StoreImageRecord(const ImageRecord& record, uint16_t nType, uint32_t nFlags) {
    std::string cName;
    std::string cName2;
    int32_t nIndex = 0;
    // The id comes from the network: INT32_MIN - 1 would overflow.
    int nCamera = record.nCameraId > 0 ? record.nCameraId - 1 : -1;
    {
        std::lock_guard<std::mutex> guard(ctx_.lock);
        if (nCamera < 0 || static_cast<size_t>(nCamera) >= psp_.cameras.size() ||
            psp_.cameras[static_cast<size_t>(nCamera)].nCameraId != record.nCameraId)
            nCamera = -1;
        if (nCamera >= 0) {
            CameraInfo& camera = psp_.cameras[static_cast<size_t>(nCamera)];
            camera.nSent = record.nSent;
            camera.nAbandoned = record.nAbandoned;
            cName = camera.cName;
            cName2 = camera.cName2;
            nIndex = camera.nIndex;
        }
    }
    if (nCamera < 0) {
        LogWrite("サーバ%sの受信画像カメラ番号#%d不正\r\n", Address(), record.nCameraId);
        return;
    }
    std::string when = TimeText(FileTimeToSystemTime(record.nFileTime));
    psp_.fPlainImage = (nFlags & PF_SENT_PLAIN) != 0 ? 1 : 0;
    host_.ImageCountsChanged(psp_, nCamera, nType);
    std::string what = CameraText(cName, nIndex) + "画像" + when;
    ClientViewer* viewer = GetImage(ctx_, &psp_, nCamera);
    if (viewer == nullptr) {
        LogWrite("サーバ%sの%s表示メモリ確保失敗\r\n", Address(), what.c_str());
        return;
    }
    if (ctx_.fSave.load())
        SaveImage(record, cName2, what);
    if (viewer->nMode.load() == 0 && host_.LivePicturesWanted())
        ShowImage(*viewer, record);
}

// Stores the JPEG as <save folder>/<server>/<camera folder>/<day>/<time>.jpg.
// Both folder names come from outside (the user's server text, the server's
// camera list), so they pass the folder-name rules and may not be "..".
void ClientLink::SaveImage(const ImageRecord& record, const std::string& cName2,
                           const std::string& cWhat) {
    ImageTree tree;
    {
        // The program may change the save folder while pictures arrive.
        std::lock_guard<std::mutex> guard(ctx_.lock);
        tree.cFolder = ctx_.cSaveFolder.empty() ? ctx_.cDataFolder : ctx_.cSaveFolder;
    }
    uint32_t rc = ERROR_INVALID_PARAMETER_CODE;
    if (SafeFolderLevel(psp_.cAddress, tree.cServer) && SafeFolderLevel(cName2, tree.cCamera))
        rc = SaveImageFile(tree, FileTimeToSystemTime(record.nFileTime), record.jpeg.data(),
                           record.jpeg.size());
    if (rc != 0)
        LogWrite("サーバ%sの%s保存失敗\r\n", Address(), cWhat.c_str());
}

// Decodes the picture for the camera's live view. A JPEG that cannot be
// decoded is only not shown; it has been stored all the same.
void ClientLink::ShowImage(ClientViewer& viewer, const ImageRecord& record) {
    if (DecodeJpeg(record.jpeg.data(), record.jpeg.size(), scratch_) != 0)
        return;
    {
        std::lock_guard<std::mutex> guard(ctx_.lock);
        std::swap(viewer.picture, scratch_);
        viewer.nPictureTime = record.nFileTime;
    }
    host_.ShowLivePicture(viewer, record.nFileTime);
}

} // namespace brindle
