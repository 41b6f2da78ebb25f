#include "client/app/client_window.h"

#include "client/app/client_relay.h"
#include "client/app/password_dialog.h"
#include "client/app/remote_property_dialog.h"
#include "client/app/view_viewer_host.h"
#include "client/connections/client_context.h"
#include "client/connections/client_thread.h"
#include "client/connections/storage_link.h"
#include "common/ini_file.h"
#include "common/log.h"
#include "common/settings.h"
#include "imagestore/viewer/viewer_window.h"
#include "platform/expand_path.h"
#include "ui_client_window.h"
#include "widgets/account_dialog.h"
#include "widgets/choose_folder.h"
#include "widgets/font_chooser.h"
#include "widgets/program_icon.h"
#include "widgets/timed_message_box.h"

#include <QApplication>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <filesystem>
#include <thread>

namespace brindle {

namespace {

constexpr int LISTING_TIMER_MS = 60000;
constexpr int TRAY_VIEWER_ITEM = 30000;
constexpr int VIEWER_CLOSE_WAIT_MS = 10000;
// "Folder" holds at most this many bytes.
constexpr size_t FOLDER_TEXT_MAX = 291;

// Window message numbers, for the trace lines only.
constexpr uint32_t MSG_INITDIALOG = 0x0110, MSG_COMMAND = 0x0111, MSG_CLOSE = 0x0010,
                   MSG_CREATE_IMAGE = 0x7FFD, MSG_AUTO_CONNECT = 0x8003;

// "ENTER {" and "LEAVE }" around a handler while the trace bit of "Debug" is set.
class Trace {
  public:
    Trace(const QWidget* window, const char* name, uint32_t uMsg, uintptr_t wp = 0)
        : on_((g_nDebug.load() & DEBUG_TRACE) != 0), name_(name), hwnd_(Handle(window)),
          uMsg_(uMsg), wp_(static_cast<uint32_t>(wp)) {
        if (on_)
            LogWrite("ENTER {  MainWindowProc(%s) hwnd=%08X uMsg=%08X wp=%08X lp=%08X\n", name_,
                     hwnd_, uMsg_, wp_, 0u);
    }
    ~Trace() {
        if (on_)
            LogWrite("LEAVE }  MainWindowProc(%s) hwnd=%08X uMsg=%08X wp=%08X lp=%08X\n", name_,
                     hwnd_, uMsg_, wp_, 0u);
    }
    Trace(const Trace&) = delete;
    Trace& operator=(const Trace&) = delete;

  private:
    static uint32_t Handle(const QWidget* w) {
        return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(w));
    }
    bool on_;
    const char* name_;
    uint32_t hwnd_, uMsg_, wp_;
};

const QColor kStateColours[5] = {QColor(192, 192, 192), QColor(192, 255, 128),
                                 QColor(192, 255, 255), QColor(255, 255, 192),
                                 QColor(255, 192, 128)};

// A decimal field's value; false when it holds no number.
bool FieldNumber(const QLineEdit* edit, long long& value) {
    bool ok = false;
    value = edit->text().trimmed().toLongLong(&ok);
    return ok;
}

// The state texts beside the server box and the fixed texts of the
// connection threads' boxes, for translation.
const char* const kStateTexts[][2] = {
    QT_TRANSLATE_NOOP3("ClientMainWindow", "接続中", "state"),
    QT_TRANSLATE_NOOP3("ClientMainWindow", "接続", "state"),
    QT_TRANSLATE_NOOP3("ClientMainWindow", "切断中", "state"),
    QT_TRANSLATE_NOOP3("ClientMainWindow", "切断", "state"),
};
const char* const kThreadTexts[] = {
    QT_TRANSLATE_NOOP("ClientMainWindow", "サーバ設定の保存ファイルが作成できません!"),
    QT_TRANSLATE_NOOP("ClientMainWindow",
                      "サーバ設定の保存ファイルに書き込みできません!"),
    QT_TRANSLATE_NOOP("ClientMainWindow", "メモリが確保できません!"),
};

} // namespace

// A connection thread's box text in the user's language: the fixed texts
// through the catalogue, the two with a value by their pattern.
QString ClientMainWindow::ThreadText(const QString& text) {
    static const QRegularExpression kNoAnswer(
        QStringLiteral("^サーバ(.*)から応答がないため切断・再接続します。$"));
    static const QRegularExpression kRequestError(
        QStringLiteral("^画像要求時にサーバでエラーが発生しました\\((.*)\\)!$"));
    QRegularExpressionMatch m = kNoAnswer.match(text);
    if (m.hasMatch())
        return QCoreApplication::translate("ClientMainWindow", "サーバ%1から応答がないため切断・再接続します。").arg(m.captured(1));
    m = kRequestError.match(text);
    if (m.hasMatch())
        return QCoreApplication::translate("ClientMainWindow", "画像要求時にサーバでエラーが発生しました(%1)!").arg(m.captured(1));
    (void)kThreadTexts;
    (void)kStateTexts;
    return QCoreApplication::translate("ClientMainWindow", text.toUtf8().constData());
}

QStringList CipherNames() {
    return {QCoreApplication::translate("ClientMainWindow", "なし"),        QCoreApplication::translate("ClientMainWindow", "トリプルDES"), QCoreApplication::translate("ClientMainWindow", "112ビット２キーDES"),
            QCoreApplication::translate("ClientMainWindow", "128ビットAES"), QCoreApplication::translate("ClientMainWindow", "192ビットAES"), QCoreApplication::translate("ClientMainWindow", "256ビットAES"),
            QCoreApplication::translate("ClientMainWindow", "DES"),         QCoreApplication::translate("ClientMainWindow", "RC2ブロック"), QCoreApplication::translate("ClientMainWindow", "RC4")};
}

ClientMainWindow::ClientMainWindow(ClientWindowOptions options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)), ui_(std::make_unique<Ui::ClientMainWindow>()) {
    ui_->setupUi(this);
    setWindowTitle(QStringLiteral("Brindle View"));
    setWindowIcon(ViewIcon());
    ClientRuntimeOptions runtimeOptions;
    runtimeOptions.cDataFolder = options_.cDataFolder;
    runtimeOptions.pHost = &host_;
    runtimeOptions.pNetwork = options_.pNetwork;
    runtimeOptions.pClock = options_.pClock;
    runtimeOptions.fWatchPower = options_.fWatchPower;
    runtimeOptions.askCreateFolder = [this](const std::string& folder) {
        QString text = QCoreApplication::translate("ClientMainWindow", "保存フォルダ %1\nが見つかりません。作成しますか?")
                           .arg(QString::fromStdString(folder));
        if (options_.askCreateFolder)
            return options_.askCreateFolder(text);
        return QMessageBox::question(this, QStringLiteral("Brindle View"), text,
                                     QMessageBox::Ok | QMessageBox::Cancel) == QMessageBox::Ok;
    };
    runtime_ = std::make_unique<ClientRuntime>(std::move(runtimeOptions));
    host_.Attach(this);
    SetUpControls();
}

ClientMainWindow::~ClientMainWindow() {
    CloseNow();
}

QWidget* ClientMainWindow::Control(int id) const {
    if (property("id").toInt() == id)
        return const_cast<ClientMainWindow*>(this);
    for (QWidget* w : findChildren<QWidget*>())
        if (w->property("id").toInt() == id)
            return w;
    return nullptr;
}

void ClientMainWindow::SetUpControls() {
    for (int i = 0; i <= 9; ++i)
        ui_->sensitivityList->addItem(QString::number(i));
    ui_->cipherList->addItems(CipherNames());
    ui_->plainWarning->setStyleSheet(QStringLiteral("color: rgb(255,0,0);"));
    ui_->plainWarning->hide();
    ui_->disconnectButton->hide();
    connect(ui_->propertyButton, &QPushButton::clicked, this,
            &ClientMainWindow::OpenRemoteProperty);

    connect(ui_->serverBox, &QComboBox::editTextChanged, this,
            &ClientMainWindow::ServerTextChanged);
    connect(ui_->serverBox, &QComboBox::activated, this,
            [this](int i) { ServerTextChanged(ui_->serverBox->itemText(i)); });
    connect(ui_->connectButton, &QPushButton::clicked, this, &ClientMainWindow::Connect);
    connect(ui_->disconnectButton, &QPushButton::clicked, this, &ClientMainWindow::Disconnect);
    connect(ui_->autoConnectBox, &QCheckBox::clicked, this, &ClientMainWindow::AutoConnectClicked);
    connect(ui_->storageList, &QComboBox::currentIndexChanged, this,
            &ClientMainWindow::StorageChosen);
    connect(ui_->storageButton, &QPushButton::clicked, this,
            [this] { OpenStorageSettings(nullptr); });

    connect(ui_->cameraList, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (!fFilling_)
            ShowCamera(i);
    });
    connect(ui_->resolutionList, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (!fFilling_ && i >= 0)
            EditCamera([i](CameraInfo& c) { c.nFormat = i; });
    });
    auto flag = [this](QCheckBox* box, bool CameraInfo::*field) {
        connect(box, &QCheckBox::clicked, this, [this, field](bool on) {
            EditCamera([field, on](CameraInfo& c) { c.*field = on; });
            ApplyEnabling();
        });
    };
    flag(ui_->useBox, &CameraInfo::fUse);
    flag(ui_->previewBox, &CameraInfo::fPreview);
    flag(ui_->receiveBox, &CameraInfo::fSend);
    flag(ui_->thinOutBox, &CameraInfo::fChange);
    flag(ui_->serverSaveBox, &CameraInfo::fSave);
    connect(ui_->sensitivityList, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (!fFilling_ && i >= 0)
            EditCamera([i](CameraInfo& c) { c.nSensitivity = i; });
    });
    const QRadioButton* stamps[] = {ui_->stampNone, ui_->stampTopLeft, ui_->stampTopRight,
                                    ui_->stampBottomLeft, ui_->stampBottomRight};
    for (int n = 0; n < 5; ++n)
        connect(stamps[n], &QRadioButton::clicked, this,
                [this, n] { EditCamera([n](CameraInfo& c) { c.nTime = n; }); });
    connect(ui_->fontButton, &QPushButton::clicked, this, &ClientMainWindow::ChooseFont);
    connect(ui_->showImagesButton, &QPushButton::clicked, this, &ClientMainWindow::ShowImages);
    connect(ui_->cipherList, &QComboBox::currentIndexChanged, this, [this](int i) {
        if (!fFilling_ && current_ != nullptr && i >= 0) {
            std::lock_guard<std::mutex> guard(runtime_->Context().lock);
            current_->nCrypt = i;
        }
    });
    connect(ui_->noSleepBox, &QCheckBox::clicked, this, [this](bool on) {
        if (current_ != nullptr) {
            std::lock_guard<std::mutex> guard(runtime_->Context().lock);
            current_->fNoSleep = on;
        }
    });
    connect(ui_->setOnServerButton, &QPushButton::clicked, this, &ClientMainWindow::SendToServer);

    // Numbers take effect when the user is done with the field: a value
    // typed digit by digit ("14" passes through "1") must never act early.
    for (QLineEdit* edit : {ui_->qualityEdit, ui_->cycleEdit, ui_->serverDaysEdit, ui_->daysEdit}) {
        edit->setValidator(nullptr);
        connect(edit, &QLineEdit::editingFinished, this, [this, edit] { CommitNumber(edit); });
    }

    connect(ui_->browseButton, &QPushButton::clicked, this, &ClientMainWindow::BrowseFolder);
    connect(ui_->saveBox, &QCheckBox::clicked, this, &ClientMainWindow::SaveClicked);
    connect(ui_->showLogButton, &QPushButton::clicked, this, &ClientMainWindow::ShowLog);
    connect(ui_->clearLogButton, &QPushButton::clicked, this, &ClientMainWindow::ClearLog);
    connect(ui_->exitButton, &QPushButton::clicked, this, &ClientMainWindow::AskExit);

    timer_ = new QTimer(this);
    timer_->setInterval(LISTING_TIMER_MS);
    connect(timer_, &QTimer::timeout, this, [this] {
        if (!fClosing_)
            runtime_->Tick();
    });
}

void ClientMainWindow::SetUpTray() {
    trayMenu_ = new QMenu(this);
    auto add = [this](int id, const QString& text, void (ClientMainWindow::*slot)()) {
        QAction* action = trayMenu_->addAction(text);
        action->setProperty("id", id);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    add(32777, QCoreApplication::translate("ClientMainWindow", "開く(&O)"), &ClientMainWindow::OpenFromTray);
    add(40001, QCoreApplication::translate("ClientMainWindow", "バージョン情報(&V)"), &ClientMainWindow::ShowVersion);
    exitAction_ = add(32771, QCoreApplication::translate("ClientMainWindow", "終了(&X)"), &ClientMainWindow::AskExit);
    connect(trayMenu_, &QMenu::aboutToShow, this, &ClientMainWindow::RefreshTrayViewers);
    if (!options_.fUseTray || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    tray_ = new QSystemTrayIcon(windowIcon(), this);
    tray_->setToolTip(QStringLiteral("Brindle View"));
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger)
            OpenFromTray();
    });
    tray_->show();
}

void ClientMainWindow::Start(bool fAutoConnect) {
    Trace trace(this, "WM_INITDIALOG", MSG_INITDIALOG);
    runtime_->Start();
    SetUpTray();
    ReadSettings();
    FillStorageList();
    FillServerBox();
    timer_->start();
    if (tray_ == nullptr)
        show();
    if (ui_->serverBox->count() == 0)
        ui_->serverBox->setFocus();
    else
        ui_->connectButton->setFocus();
    if (fAutoConnect)
        QTimer::singleShot(0, this, [this] {
            Trace autoTrace(this, "WM_AUTO_CONNECT", MSG_AUTO_CONNECT);
            if (fClosing_)
                return;
            runtime_->ConnectAutomatic();
            RefreshServerControls();
        });
}

void ClientMainWindow::ReadSettings() {
    static const int32_t kZero = 0;
    int32_t nLeft = 0, nTop = 0;
    SettingRead({"Settings", "Left", &kZero, &nLeft, nullptr, SETTING_SIGNED});
    SettingRead({"Settings", "Top", &kZero, &nTop, nullptr, SETTING_SIGNED});
    move(nLeft, nTop);
    const QSignalBlocker block(ui_->saveBox);
    ui_->folderEdit->setText(QString::fromStdString(runtime_->SaveFolder()));
    ui_->saveBox->setChecked(runtime_->Save());
    ui_->daysEdit->setText(QString::number(runtime_->Days()));
}

void ClientMainWindow::FillServerBox() {
    fFilling_ = true;
    ui_->serverBox->clear();
    for (const std::string& text : RecentServers(runtime_->Context()))
        ui_->serverBox->addItem(QString::fromStdString(text));
    fFilling_ = false;
    ServerTextChanged(ui_->serverBox->currentText());
}

// --- Server group --------------------------------------------------------

void ClientMainWindow::ServerTextChanged(const QString& text) {
    if (fFilling_ || fClosing_)
        return;
    ui_->stateText->clear();
    std::string cAddress;
    int32_t nPort = 0;
    ClientContext& ctx = runtime_->Context();
    ServerParams* psp = nullptr;
    if (ParseServerText(text.toStdString(), cAddress, nPort)) {
        psp = FindServerParams(ctx, cAddress, nPort);
        if (psp == nullptr)
            psp = CreateServerParams(ctx, cAddress, nPort);
    }
    SelectServer(psp);
}

void ClientMainWindow::SelectServer(ServerParams* psp) {
    ClientContext& ctx = runtime_->Context();
    if (psp != current_) {
        {
            std::lock_guard<std::mutex> guard(ctx.lock);
            ctx.pCurrent = psp;
        }
        current_ = psp;
        CameraTableChanged(psp);
    }
    RefreshServerControls();
}

void ClientMainWindow::RefreshServerControls() {
    ServerParams* psp = current_;
    const int nState = ServerStateIndex(psp);
    ui_->stateText->setText(nState == 0 ? QString() : QCoreApplication::translate("ClientMainWindow", ServerStateText(nState), "state"));
    QPalette palette = ui_->stateText->palette();
    palette.setColor(QPalette::Window, kStateColours[nState]);
    ui_->stateText->setPalette(palette);

    const bool fRunning = psp != nullptr && psp->dwThreadId.load() != 0;
    const bool fStopping = fRunning && psp->fStop.load() != 0;
    const bool fUsable =
        psp != nullptr && (!psp->IsStorageLinked() || ui_->storageList->count() > 0);
    ui_->connectButton->setEnabled(fUsable && !fRunning);
    ui_->disconnectButton->setEnabled(fRunning && !fStopping);
    ui_->connectButton->setVisible(!fRunning);
    ui_->disconnectButton->setVisible(fRunning);
    // The account of a server is chosen while it is not connected.
    ui_->storageList->setEnabled(psp != nullptr && !fRunning);
    ui_->storageButton->setEnabled(psp != nullptr && !fRunning);
    ShowServerStorage();

    {
        const QSignalBlocker block(ui_->autoConnectBox);
        // A storage-linked server connects at start-up only through an
        // account of the list.
        const bool fAuto = psp != nullptr && (!psp->IsStorageLinked() ||
                                              ui_->storageList->currentIndex() >= 0);
        ui_->autoConnectBox->setEnabled(fAuto);
        ui_->autoConnectBox->setChecked(fAuto &&
                                        AutoConnectEnabled(runtime_->Context(), psp->cAddress));
    }
    bool fCameras = false;
    if (psp != nullptr) {
        std::lock_guard<std::mutex> guard(runtime_->Context().lock);
        fCameras = !psp->cameras.empty();
    }
    ui_->showImagesButton->setEnabled(fCameras);
    ApplyEnabling();
}

void ClientMainWindow::ApplyEnabling() {
    ServerParams* psp = current_;
    const bool fEnable =
        psp != nullptr && psp->dwThreadId.load() != 0 && psp->fStop.load() == 0;
    CameraControlsState s;
    {
        std::lock_guard<std::mutex> guard(runtime_->Context().lock);
        s = EnableControls(psp, fEnable, PropertyDialogOpen());
    }
    ui_->resolutionList->setEnabled(s.fResolution);
    ui_->propertyButton->setEnabled(s.fProperty);
    for (QWidget* w : std::initializer_list<QWidget*>{ui_->qualityEdit, ui_->cycleEdit, ui_->useBox,
                                                      ui_->previewBox, ui_->receiveBox,
                                                      ui_->thinOutBox})
        w->setEnabled(s.fBasics);
    ui_->sensitivityList->setEnabled(s.fSensitivity);
    ui_->serverSaveBox->setEnabled(s.fSaveOnServer);
    ui_->serverDaysEdit->setEnabled(s.fDays);
    for (QWidget* w : std::initializer_list<QWidget*>{ui_->stampNone, ui_->stampTopLeft,
                                                      ui_->stampTopRight, ui_->stampBottomLeft,
                                                      ui_->stampBottomRight, ui_->fontButton})
        w->setEnabled(s.fTimeStamp);
    for (QWidget* w : std::initializer_list<QWidget*>{ui_->noSleepBox, ui_->cipherList,
                                                      ui_->setOnServerButton})
        w->setEnabled(s.fServerWide);
}

void ClientMainWindow::Connect() {
    Trace trace(this, "WM_COMMAND", MSG_COMMAND, 9042);
    CommitNumbers();
    const std::string text = ui_->serverBox->currentText().toStdString();
    std::string cAddress;
    int32_t nPort = 0;
    if (!ParseServerText(text, cAddress, nPort))
        return;
    if (nPort != 0) {
        ConnectWith(text, {});
        return;
    }
    // A storage-linked server relays through the account chosen in the
    // list; without a usable one the storage settings come first, and the
    // connect goes on only when they give one.
    std::string uri = UsableSelectedStorage();
    if (!uri.empty()) {
        ConnectWith(text, uri);
        return;
    }
    ServerParams* psp = current_;
    OpenStorageSettings([this, text, psp] {
        if (current_ != psp)
            return;
        std::string chosen = UsableSelectedStorage();
        if (!chosen.empty())
            ConnectWith(text, chosen);
    });
}

// Connects through the runtime, as the headless program does; the server
// box then lists the recently used servers with this one on top.
void ClientMainWindow::ConnectWith(const std::string& text, const std::string& storageUri) {
    ConnectResult result = runtime_->ConnectText(text, true, storageUri);
    if (result == ConnectResult::kNotAServer)
        return;
    ShowRecentServers();
    if (result == ConnectResult::kNotStarted)
        OpenMessageBox(QCoreApplication::translate("ClientMainWindow", "サーバ接続スレッドの作成に失敗しました!"), 0, nullptr);
    else if (result == ConnectResult::kRelayName)
        OpenMessageBox(QCoreApplication::translate("ClientMainWindow", "オンラインストレージ中継: コンピュータ名またはサーバ名が使えません(英数字・_・-の63文字以内)"), 0, nullptr);
    RefreshServerControls();
}

void ClientMainWindow::ShowRecentServers() {
    fFilling_ = true;
    ui_->serverBox->clear();
    for (const std::string& item : RecentServers(runtime_->Context()))
        ui_->serverBox->addItem(QString::fromStdString(item));
    ui_->serverBox->setCurrentIndex(0);
    fFilling_ = false;
    ServerTextChanged(ui_->serverBox->currentText());
}

void ClientMainWindow::Disconnect() {
    Trace trace(this, "WM_COMMAND", MSG_COMMAND, 1050);
    const std::string text = ui_->serverBox->currentText().toStdString();
    AddRecentServer(runtime_->Context(), text);
    if (current_ != nullptr)
        current_->fStop = 1;
    RefreshServerControls();
}

void ClientMainWindow::AutoConnectClicked(bool fOn) {
    const std::string text = ui_->serverBox->currentText().trimmed().toStdString();
    const std::string key = text.substr(0, text.find(':'));
    ReportWriteError("AutoConnect", SetAutoConnect(runtime_->Context(), key, fOn));
}

// --- Storage list and settings --------------------------------------------

AccountDialog* ClientMainWindow::StorageDialog() const {
    return storageDialog_;
}

// The accounts by name, the current server's selected.
void ClientMainWindow::FillStorageList() {
    AccountStore& store = runtime_->Relay().Store();
    store.LoadAccounts();
    {
        const QSignalBlocker block(ui_->storageList);
        ui_->storageList->clear();
        for (const AccountPtr& account : store.Accounts())
            ui_->storageList->addItem(QString::fromStdString(account->cUri));
    }
    RefreshServerControls();
}

void ClientMainWindow::ShowServerStorage() {
    const std::string name = StorageOf(current_);
    const QSignalBlocker block(ui_->storageList);
    ui_->storageList->setCurrentIndex(
        name.empty() ? -1
                     : ui_->storageList->findText(QString::fromStdString(name),
                                                  Qt::MatchFixedString)); // without case
}

void ClientMainWindow::StorageChosen(int nIndex) {
    ServerParams* psp = current_;
    if (fClosing_ || psp == nullptr || nIndex < 0 || psp->dwThreadId.load() != 0)
        return;
    AttachStorage(psp, ui_->storageList->itemText(nIndex).toStdString());
    RefreshServerControls();
}

// The server relays through the account from now on; its file keeps the
// choice as the connection thread saves it.
void ClientMainWindow::AttachStorage(ServerParams* psp, const std::string& uri) {
    {
        std::lock_guard<std::mutex> guard(runtime_->Context().lock);
        psp->cStorage = uri;
    }
    ReportWriteError("Webdav", IniWriteKey(psp->cServerIni, "Settings", "Webdav", uri));
}

// The name of the server's account. While its thread runs, the account it
// was started with (the thread writes the saved name itself).
std::string ClientMainWindow::StorageOf(ServerParams* psp) {
    if (psp == nullptr)
        return {};
    if (psp->dwThreadId.load() != 0 && psp->pStorage != nullptr)
        return psp->pStorage->Name();
    std::lock_guard<std::mutex> guard(runtime_->Context().lock);
    return psp->cStorage;
}

// The account selected in the list when it can relay (its folder set up);
// empty otherwise.
std::string ClientMainWindow::UsableSelectedStorage() {
    const int nIndex = ui_->storageList->currentIndex();
    if (nIndex < 0)
        return {};
    AccountPtr account =
        runtime_->Relay().Store().Find(ui_->storageList->itemText(nIndex).toStdString());
    if (!account)
        return {};
    std::lock_guard<std::mutex> guard(account->lock);
    return account->nSetup != 0 ? account->cUri : std::string();
}

// The storage settings dialog for the current server's account, window
// modal and not waited for: connection threads are served meanwhile. An
// account saved by OK becomes the server's; `accepted` runs after that.
void ClientMainWindow::OpenStorageSettings(std::function<void()> accepted) {
    if (fClosing_ || storageDialog_)
        return;
    ServerParams* psp = current_;
    AccountStore& store = runtime_->Relay().Store();
    store.LoadAccounts();
    auto* dialog = new AccountDialog(store, false, store.Find(StorageOf(psp)), this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    storageDialog_ = dialog;
    connect(dialog, &QDialog::finished, this,
            [this, dialog, psp, accepted = std::move(accepted)](int result) {
                if (fClosing_)
                    return;
                // Cancel may follow a delete: the list is read anew either way.
                const bool fSaved = result == QDialog::Accepted && dialog->Saved();
                if (fSaved && psp != nullptr && psp == current_ && psp->dwThreadId.load() == 0)
                    AttachStorage(psp, dialog->Saved()->cUri);
                FillStorageList();
                if (fSaved && accepted)
                    accepted();
            });
    dialog->open();
}

void ClientMainWindow::ServerStateChanged(ServerParams* psp) {
    if (fClosing_)
        return;
    if (psp == current_)
        RefreshServerControls();
}

void ClientMainWindow::CameraTableChanged(ServerParams* psp) {
    if (fClosing_ || psp != current_)
        return;
    fFilling_ = true;
    ui_->cameraList->clear();
    ui_->resolutionList->clear();
    if (psp != nullptr) {
        LoadCameraInfo(runtime_->Context(), *psp);
        CameraCombo combo = SetCameraCombo(runtime_->Context(), *psp);
        for (const std::string& line : combo.lines)
            ui_->cameraList->addItem(QString::fromStdString(line));
        ui_->cameraList->setCurrentIndex(combo.lines.empty() ? -1 : combo.nSelected);
        const QSignalBlocker b1(ui_->noSleepBox), b2(ui_->cipherList);
        std::lock_guard<std::mutex> guard(runtime_->Context().lock);
        ui_->noSleepBox->setChecked(psp->fNoSleep);
        ui_->cipherList->setCurrentIndex(psp->nCrypt >= 0 && psp->nCrypt < 9 ? psp->nCrypt : 0);
    }
    fFilling_ = false;
    ShowCamera(ui_->cameraList->currentIndex());
    RefreshServerControls();
}

void ClientMainWindow::CountsChanged(ServerParams* psp, int nCamera) {
    if (fClosing_ || psp != current_)
        return;
    uint16_t nPlain = 0;
    {
        std::lock_guard<std::mutex> guard(runtime_->Context().lock);
        if (nCamera == psp->nCurrentCamera && static_cast<size_t>(nCamera) < psp->cameras.size()) {
            const CameraInfo& camera = psp->cameras[static_cast<size_t>(nCamera)];
            ui_->sentCount->setText(QString::number(camera.nSent));
            ui_->abandonedCount->setText(QString::number(camera.nAbandoned));
        }
        nPlain = psp->fPlainImage.load() != 0 ? 1 : 0;
    }
    ui_->plainWarning->setVisible(nPlain != 0);
}

// --- Camera group --------------------------------------------------------

void ClientMainWindow::ShowCamera(int nIndex) {
    ServerParams* psp = current_;
    fFilling_ = true;
    ui_->resolutionList->clear();
    CameraInfo camera;
    bool fFound = false;
    if (psp != nullptr && nIndex >= 0) {
        std::lock_guard<std::mutex> guard(runtime_->Context().lock);
        if (static_cast<size_t>(nIndex) < psp->cameras.size()) {
            psp->nCurrentCamera = nIndex;
            camera = psp->cameras[static_cast<size_t>(nIndex)];
            fFound = true;
        }
    }
    if (fFound) {
        IniWriteKey(runtime_->Context().cSettingsFile, "Camera", psp->cAddress,
                    std::to_string(nIndex));
        for (const CameraFormat& f : camera.formats) {
            const int64_t nMilli = f.nDuration != 0 ? 10000000000LL / f.nDuration : 0;
            ui_->resolutionList->addItem(QStringLiteral("%1 x %2, %3.%4 fps")
                                             .arg(f.nWidth)
                                             .arg(f.nHeight)
                                             .arg(nMilli / 1000)
                                             .arg(nMilli % 1000, 3, 10, QLatin1Char('0')));
        }
        ui_->resolutionList->setCurrentIndex(camera.nFormat);
    }
    ui_->useBox->setChecked(camera.fUse);
    ui_->previewBox->setChecked(camera.fPreview);
    ui_->receiveBox->setChecked(camera.fSend);
    ui_->serverSaveBox->setChecked(camera.fSave);
    ui_->thinOutBox->setChecked(camera.fChange);
    ui_->sensitivityList->setCurrentIndex(camera.nSensitivity >= 0 && camera.nSensitivity <= 9
                                              ? camera.nSensitivity
                                              : -1);
    ui_->qualityEdit->setText(fFound ? QString::number(camera.nQuality) : QString());
    ui_->cycleEdit->setText(fFound ? QString::number(camera.nCycle) : QString());
    ui_->serverDaysEdit->setText(fFound ? QString::number(camera.nDays) : QString());
    ui_->sentCount->setText(QString::number(camera.nSent));
    ui_->abandonedCount->setText(QString::number(camera.nAbandoned));
    QRadioButton* stamps[] = {ui_->stampNone, ui_->stampTopLeft, ui_->stampTopRight,
                              ui_->stampBottomLeft, ui_->stampBottomRight};
    if (camera.nTime >= 0 && camera.nTime < 5)
        stamps[camera.nTime]->setChecked(true);
    fFilling_ = false;
    ApplyEnabling();
}

void ClientMainWindow::EditCamera(const std::function<void(CameraInfo&)>& edit) {
    ServerParams* psp = current_;
    if (fFilling_ || psp == nullptr)
        return;
    std::lock_guard<std::mutex> guard(runtime_->Context().lock);
    const int n = psp->nCurrentCamera;
    if (n >= 0 && static_cast<size_t>(n) < psp->cameras.size())
        edit(psp->cameras[static_cast<size_t>(n)]);
}

// A number field is taken when the user leaves it: clamped into its range
// and shown corrected; an empty or unreadable field gets its value back.
void ClientMainWindow::CommitNumber(QLineEdit* edit) {
    if (fFilling_)
        return;
    long long value = 0;
    const bool fNumber = FieldNumber(edit, value);
    if (edit == ui_->daysEdit) {
        if (fNumber) {
            value = std::clamp<long long>(value, 1, UINT32_MAX);
            if (static_cast<uint32_t>(value) != runtime_->Days())
                runtime_->SetDays(static_cast<uint32_t>(value));
        }
        edit->setText(QString::number(runtime_->Days()));
        return;
    }
    int32_t CameraInfo::*field = edit == ui_->qualityEdit ? &CameraInfo::nQuality
                                 : edit == ui_->cycleEdit ? &CameraInfo::nCycle
                                                          : &CameraInfo::nDays;
    const long long nLow = edit == ui_->qualityEdit ? 0 : 1;
    const long long nHigh = edit == ui_->qualityEdit ? 100 : INT32_MAX;
    int32_t shown = 0;
    bool fCamera = false;
    EditCamera([&](CameraInfo& c) {
        if (fNumber)
            c.*field = static_cast<int32_t>(std::clamp(value, nLow, nHigh));
        shown = c.*field;
        fCamera = true;
    });
    edit->setText(fCamera ? QString::number(shown) : QString());
}

void ClientMainWindow::CommitNumbers() {
    for (QLineEdit* edit : {ui_->qualityEdit, ui_->cycleEdit, ui_->serverDaysEdit, ui_->daysEdit})
        if (edit->isModified() || edit->hasFocus()) {
            CommitNumber(edit);
            edit->setModified(false);
        }
}

void ClientMainWindow::ChooseFont() {
    std::string cFont;
    EditCamera([&cFont](CameraInfo& c) { cFont = c.cFont; });
    // A font text the chooser cannot read stays as it is unless the user
    // picks a new one: the chooser then starts from the default font.
    if (ChooseFontText(this, cFont, QApplication::font()))
        EditCamera([&cFont](CameraInfo& c) { c.cFont = cFont; });
}

void ClientMainWindow::SendToServer() {
    Trace trace(this, "WM_COMMAND", MSG_COMMAND, 9043);
    CommitNumbers();
    ServerParams* psp = current_;
    if (psp == nullptr)
        return;
    std::lock_guard<std::mutex> guard(runtime_->Context().lock);
    const int n = psp->nCurrentCamera;
    if (n < 0 || static_cast<size_t>(n) >= psp->cameras.size())
        return;
    const CameraInfo& c = psp->cameras[static_cast<size_t>(n)];
    CameraRequestFields& r = psp->cameraRequest;
    r.nFlags = (c.fUse ? REQUEST_FLAG_USE : 0) | (c.fSend ? REQUEST_FLAG_SEND : 0) |
               (c.fPreview ? REQUEST_FLAG_PREVIEW : 0) | (c.fChange ? REQUEST_FLAG_CHANGE : 0) |
               (c.fSave ? REQUEST_FLAG_SAVE : 0);
    r.nFormat = c.nFormat;
    r.nCycle = c.nCycle;
    r.nSensitivity = c.nSensitivity;
    r.nQuality = c.nQuality;
    r.nTime = c.nTime;
    r.nDays = c.nDays;
    r.nCrypt = psp->nCrypt;
    r.fNoSleep = psp->fNoSleep ? 1 : 0;
    r.cFont = c.cFont;
    psp->nCameraRequest = n + 1;
}

void ClientMainWindow::ShowImages() {
    Trace trace(this, "WM_COMMAND", MSG_COMMAND, 9044);
    ServerParams* psp = current_;
    if (psp == nullptr)
        return;
    ClientViewer* viewer = GetImage(runtime_->Context(), psp, psp->nCurrentCamera);
    if (viewer == nullptr)
        return;
    if (ViewerWindowOf(viewer) != nullptr) {
        ImageViewerWindow* window = ViewerWindowOf(viewer);
        window->showNormal();
        window->raise();
        window->activateWindow();
        return;
    }
    QTimer::singleShot(0, this, [this, viewer] { OpenViewer(viewer, VIEWER_OPENING); });
}

// --- Image windows ---------------------------------------------------------

ImageViewerWindow* ClientMainWindow::ViewerWindowOf(const ClientViewer* viewer) const {
    auto it = viewers_.find(viewer);
    return it == viewers_.end() ? nullptr : it->second.window.data();
}

void ClientMainWindow::OpenViewer(ClientViewer* viewer, int nMode) {
    Trace trace(this, "WM_CREATE_IMAGE", MSG_CREATE_IMAGE);
    if (fClosing_ || viewer == nullptr || ViewerWindowOf(viewer) != nullptr)
        return;
    viewer->entry.nMode = nMode;
    OpenViewerWindow& open = viewers_[viewer];
    open.host = std::make_unique<ViewViewerHost>(*this, *viewer);
    const Clock& clock = options_.pClock != nullptr ? *options_.pClock : SystemClock();
    auto* window = new ImageViewerWindow(viewer->entry, *open.host, clock);
    window->setAttribute(Qt::WA_DeleteOnClose);
    open.window = window;
    window->show();
    RefreshTrayViewers();
}

std::shared_ptr<LiveFrameSlot> ClientMainWindow::LiveSlotOf(const ClientViewer* viewer,
                                                            int nWaitMs) {
    std::unique_lock<std::mutex> guard(slotLock_);
    auto find = [&]() -> std::shared_ptr<LiveFrameSlot> {
        auto it = slots_.find(viewer);
        return it == slots_.end() ? nullptr : it->second;
    };
    if (nWaitMs > 0)
        slotCv_.wait_for(guard, std::chrono::milliseconds(nWaitMs),
                         [&] { return find() != nullptr; });
    return find();
}

void ClientMainWindow::SetLiveSlot(const ClientViewer* viewer,
                                   std::shared_ptr<LiveFrameSlot> slot) {
    std::lock_guard<std::mutex> guard(slotLock_);
    if (slot)
        slots_[viewer] = std::move(slot);
    else
        slots_.erase(viewer);
    slotCv_.notify_all();
}

void ClientMainWindow::ViewerClosed(const ClientViewer* viewer) {
    auto it = viewers_.find(viewer);
    if (it == viewers_.end())
        return;
    // The window deletes itself after this call returns; its host lives
    // until then.
    ImageViewerWindow* window = it->second.window.data();
    ViewerHost* host = it->second.host.release();
    viewers_.erase(it);
    if (window != nullptr)
        connect(window, &QObject::destroyed, [host] { delete host; });
    else
        delete host;
}

void ClientMainWindow::RefreshTrayViewers() {
    if (trayMenu_ == nullptr)
        return;
    // Items 30000 + n: the viewer record's place n in the list.
    std::vector<std::pair<int, QString>> items;
    {
        ClientContext& ctx = runtime_->Context();
        std::lock_guard<std::mutex> guard(ctx.lock);
        for (size_t n = 0; n < ctx.viewers.size(); ++n) {
            const ClientViewer* v = ctx.viewers[n].get();
            if (viewers_.count(v) == 0 && trayViewers_.end() == std::find(trayViewers_.begin(),
                                                                          trayViewers_.end(), v))
                continue;
            std::string name;
            if (v->psp != nullptr && static_cast<size_t>(v->nCamera) < v->psp->cameras.size())
                name = v->psp->cameras[static_cast<size_t>(v->nCamera)].cName;
            items.emplace_back(TRAY_VIEWER_ITEM + static_cast<int>(n),
                               QCoreApplication::translate("ClientMainWindow", "%1 カメラ#&%2 %3")
                                   .arg(QString::fromStdString(v->psp ? v->psp->cAddress : ""))
                                   .arg(v->nCamera + 1)
                                   .arg(QString::fromStdString(name)));
        }
    }
    for (const auto& [id, text] : items) {
        QAction* action = nullptr;
        for (QAction* a : trayMenu_->actions())
            if (a->property("id").toInt() == id)
                action = a;
        const size_t n = static_cast<size_t>(id - TRAY_VIEWER_ITEM);
        const ClientViewer* v = runtime_->Context().viewers[n].get();
        if (action == nullptr) {
            action = new QAction(text, trayMenu_);
            action->setProperty("id", id);
            trayMenu_->insertAction(trayMenu_->actions().value(0), action);
            connect(action, &QAction::triggered, this, [this, v] {
                if (ImageViewerWindow* w = ViewerWindowOf(v)) {
                    w->showNormal();
                    w->raise();
                    w->activateWindow();
                }
            });
            trayViewers_.push_back(v);
        } else if (action->text() != text) {
            action->setText(text);
        }
        action->setEnabled(ViewerWindowOf(v) != nullptr);
    }
}

// --- Questions of the connection threads -----------------------------------

void ClientMainWindow::OpenPasswordDialog(ServerParams* psp,
                                          std::shared_ptr<PendingAnswer> answer) {
    if (fClosing_) {
        answer->Answer(PASSWORD_CANCELLED);
        return;
    }
    std::string known;
    {
        std::lock_guard<std::mutex> guard(runtime_->Context().lock);
        known = psp->cPassword;
    }
    auto* dialog = new PasswordDialog(psp->cAddress, known, (g_nDebug.load() & DEBUG_SHOW_PASSWORDS) != 0, this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    questions_[dialog] = answer;
    connect(dialog, &QDialog::finished, this, [this, dialog](int result) {
        auto it = questions_.find(dialog);
        if (it == questions_.end())
            return;
        if (result == QDialog::Accepted)
            it->second->Answer(0, dialog->Password());
        else
            it->second->Answer(PASSWORD_CANCELLED);
        questions_.erase(it);
    });
    dialog->open();
}

void ClientMainWindow::OpenMessageBox(const QString& text, uint32_t nTimeoutMs,
                                      std::shared_ptr<PendingAnswer> answer) {
    if (fClosing_) {
        if (answer)
            answer->Answer(IDCANCEL);
        return;
    }
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Brindle View"),
                                ThreadText(text), QMessageBox::Ok,
                                isVisible() ? this : nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowFlag(Qt::WindowStaysOnTopHint);
    if (answer)
        questions_[box] = answer;
    auto finish = [this, box](int result) {
        nLastBoxResult_ = result;
        auto it = questions_.find(box);
        if (it != questions_.end()) {
            it->second->Answer(static_cast<uint32_t>(result));
            questions_.erase(it);
        }
    };
    connect(box, &QMessageBox::finished, this, [box, finish](int result) {
        QAbstractButton* pressed = box->clickedButton();
        finish(result == TIMED_OUT_RESULT ? TIMED_OUT_RESULT
               : pressed != nullptr       ? ButtonId(box->standardButton(pressed))
                                          : IDCANCEL);
    });
    if (nTimeoutMs > 0) {
        auto* limit = new QTimer(box);
        limit->setSingleShot(true);
        connect(limit, &QTimer::timeout, box, [box] { box->done(TIMED_OUT_RESULT); });
        limit->start(static_cast<int>(nTimeoutMs / static_cast<uint32_t>(nBoxLimitDivisor_)));
    }
    box->open();
}

std::vector<QWidget*> ClientMainWindow::OpenQuestions() const {
    std::vector<QWidget*> open;
    for (const auto& [w, answer] : questions_)
        open.push_back(w);
    return open;
}

// --- Local group, log and exit ----------------------------------------------

void ClientMainWindow::ReportWriteError(const char* key, uint32_t rc) {
    if (rc == 0)
        return;
    LogWrite("設定%sの保存に失敗(0x%08X)\r\n", key, rc);
    OpenMessageBox(QCoreApplication::translate("ClientMainWindow", "設定ファイル %1 に %2 を保存できません (0x%3)")
                       .arg(QString::fromStdString(runtime_->Context().cSettingsFile))
                       .arg(QString::fromLatin1(key))
                       .arg(rc, 8, 16, QLatin1Char('0')),
                   0, nullptr);
}

void ClientMainWindow::BrowseFolder() {
    std::string folder = runtime_->SaveFolder();
    std::string chosen = folder;
    if (!ChooseFolder(this, folder, chosen))
        return;
    if (chosen.size() > FOLDER_TEXT_MAX) {
        OpenMessageBox(QCoreApplication::translate("ClientMainWindow", "保存フォルダのパスが長すぎます (%1 バイトまで)").arg(FOLDER_TEXT_MAX), 0,
                       nullptr);
        return;
    }
    ReportWriteError("Folder", runtime_->SetFolder(chosen));
    ui_->folderEdit->setText(QString::fromStdString(runtime_->SaveFolder()));
}

void ClientMainWindow::SaveClicked(bool fOn) {
    ReportWriteError("Save", runtime_->SetSave(fOn));
}

void ClientMainWindow::ShowLog() {
    LogFlush();
    QDesktopServices::openUrl(QUrl::fromLocalFile(
        QString::fromStdString(runtime_->Context().cDataFolder + "/BrindleView.log")));
}

void ClientMainWindow::ClearLog() {
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Brindle View"),
                                QCoreApplication::translate("ClientMainWindow", "ログを消去しますか?"), QMessageBox::Yes | QMessageBox::No, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    connect(box, &QMessageBox::finished, this, [box] {
        if (box->standardButton(box->clickedButton()) == QMessageBox::Yes)
            LogClear();
    });
    box->open();
}

void ClientMainWindow::AskExit() {
    if (fClosing_)
        return;
    if (exitAction_ != nullptr)
        exitAction_->setEnabled(false);
    auto* box = new QMessageBox(QMessageBox::Question, QStringLiteral("Brindle View"),
                                QCoreApplication::translate("ClientMainWindow", "終了しますか?"), QMessageBox::Yes | QMessageBox::No,
                                isVisible() ? this : nullptr);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("exitQuestion"));
    connect(box, &QMessageBox::finished, this, [this, box] {
        if (box->standardButton(box->clickedButton()) == QMessageBox::Yes) {
            ui_->exitButton->setEnabled(false);
            QTimer::singleShot(0, this, [this] {
                CloseNow();
                QApplication::quit();
            });
        } else if (exitAction_ != nullptr) {
            exitAction_->setEnabled(true);
        }
    });
    box->open();
}

void ClientMainWindow::ShowVersion() {
    static const uint32_t kZero = 0;
    uint32_t nDebug = 0;
    SettingRead({"Settings", "Debug", &kZero, &nDebug, nullptr, SETTING_HEX});
    g_nDebug = nDebug;
    QMessageBox::about(isVisible() ? this : nullptr, QStringLiteral("Brindle View"),
                       QString::fromStdString(ClientVersion()));
}

void ClientMainWindow::OpenFromTray() {
    showNormal();
    raise();
    activateWindow();
}

// --- Window events -----------------------------------------------------------

void ClientMainWindow::closeEvent(QCloseEvent* event) {
    if (fClosed_) {
        event->accept();
        return;
    }
    // The close box asks as "終了" does.
    event->ignore();
    AskExit();
}

void ClientMainWindow::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_ != nullptr)
        QTimer::singleShot(0, this, &QWidget::hide);
}

void ClientMainWindow::hideEvent(QHideEvent* event) {
    CommitNumbers();
    QWidget::hideEvent(event);
}

void ClientMainWindow::contextMenuEvent(QContextMenuEvent* event) {
    RefreshTrayViewers();
    trayMenu_->popup(event->globalPos());
}

void ClientMainWindow::CloseNow() {
    if (fClosed_)
        return;
    Trace trace(this, "WM_CLOSE", MSG_CLOSE);
    fClosing_ = true;
    if (runtime_ == nullptr)
        return;
    CommitNumbers();
    if (storageDialog_)
        storageDialog_->reject();
    host_.SetClosing();
    timer_->stop();
    // Every question a thread waits on is answered "cancelled".
    auto questions = std::move(questions_);
    questions_.clear();
    for (auto& [w, answer] : questions) {
        answer->Answer(PASSWORD_CANCELLED);
        w->close();
    }
    // The image windows close and give up their live slots.
    std::vector<QPointer<ImageViewerWindow>> windows;
    for (auto& [v, open] : viewers_)
        windows.push_back(open.window);
    for (auto& w : windows)
        if (w)
            w->close();
    if (propertyDialog_ != nullptr)
        propertyDialog_->close();
    QElapsedTimer waited;
    waited.start();
    while (!viewers_.empty() && waited.elapsed() < VIEWER_CLOSE_WAIT_MS) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // Every thread is told to stop; their queued calls are served while
    // they do.
    ClientContext& ctx = runtime_->Context();
    std::vector<ServerParams*> servers;
    {
        std::lock_guard<std::mutex> guard(ctx.lock);
        for (const auto& psp : ctx.servers) {
            psp->fStop = 1;
            servers.push_back(psp.get());
        }
    }
    for (ServerParams* psp : servers)
        while (psp->dwThreadId.load() != 0) {
            QApplication::processEvents(QEventLoop::AllEvents, 20);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    runtime_->Shutdown();
    if (!isMinimized() && isVisible()) {
        ReportWriteError("Left", IniWriteKey(ctx.cSettingsFile, "Settings", "Left",
                                             std::to_string(pos().x())));
        ReportWriteError("Top", IniWriteKey(ctx.cSettingsFile, "Settings", "Top",
                                            std::to_string(pos().y())));
    }
    if (tray_ != nullptr)
        tray_->hide();
    fClosed_ = true;
    hide();
}

} // namespace brindle
