#include "server/app/main_window.h"

#include "common/error_codes.h"
#include "common/log.h"
#include "protocol/image_cipher.h"
#include "server/app/host_viewer.h"
#include "server/app/preview_window.h"
#include "server/capture/camera_control.h"
#include "server/capture/camera_list.h"
#include "server/capture/composition.h"
#include "server/capture/send_queue.h"
#include "server/capture/stamp_font.h"
#include "ui_main_window.h"
#include "widgets/timed_message_box.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QFile>
#include <QMenu>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace brindle {

namespace {

constexpr char CAPTION[] = "Brindle Host";

// Background of the status field by connection state, and of the two
// indicators.
const QColor STATE_COLOURS[] = {QColor(192, 192, 192), QColor(192, 255, 128), QColor(192, 255, 255),
                                QColor(255, 255, 192), QColor(255, 192, 128)};
const QColor DETECT_COLOUR(255, 255, 0);
const QColor SAVE_COLOUR(160, 255, 160);

// Digits only; an empty field is acceptable while it is being retyped.
constexpr int NUMBER_DIGITS_MAX = 10;

// Keeps a password within what a client can send.
class PasswordValidator final : public QValidator {
  public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return input.toUtf8().size() <= PASSWORD_BYTES_MAX ? Acceptable : Invalid;
    }
};

void SetBackground(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
}

// The cipher names as the image cipher gives them, for translation.
[[maybe_unused]] constexpr const char* CIPHER_NAMES[] = {
    QT_TRANSLATE_NOOP("HostMainWindow", "なし"),
    QT_TRANSLATE_NOOP("HostMainWindow", "トリプルDES"),
    QT_TRANSLATE_NOOP("HostMainWindow", "112ビット２キーDES"),
    QT_TRANSLATE_NOOP("HostMainWindow", "128ビットAES"),
    QT_TRANSLATE_NOOP("HostMainWindow", "192ビットAES"),
    QT_TRANSLATE_NOOP("HostMainWindow", "256ビットAES"),
    QT_TRANSLATE_NOOP("HostMainWindow", "RC2ブロック"),
};

QIcon ProgramIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(40, 90, 160));
    painter.setPen(Qt::NoPen);
    painter.drawRoundedRect(2, 6, 28, 20, 4, 4);
    painter.setBrush(QColor(230, 230, 230));
    painter.drawEllipse(QPointF(16, 16), 7, 7);
    painter.setBrush(QColor(40, 90, 160));
    painter.drawEllipse(QPointF(16, 16), 3.5, 3.5);
    return QIcon(pixmap);
}

QString StateText(int32_t nStatus) {
    switch (nStatus) {
    case 1:
        return QCoreApplication::translate("HostMainWindow", "と接続中");
    case 2:
        return QCoreApplication::translate("HostMainWindow", "と接続");
    case 3:
        return QCoreApplication::translate("HostMainWindow", "と切断中");
    case 4:
        return QCoreApplication::translate("HostMainWindow", "と切断");
    default:
        return QString();
    }
}

} // namespace

HostMainWindow::HostMainWindow(HostWindowOptions options, QWidget* parent)
    : QWidget(parent), options_(std::move(options)),
      clock_(options_.runtime.pClock ? *options_.runtime.pClock : SystemClock()),
      ui_(std::make_unique<Ui::HostMainWindow>()) {
    ui_->setupUi(this);
    setWindowTitle(CAPTION);
    setWindowIcon(ProgramIcon());
    options_.runtime.pHost = this;
    runtime_ = std::make_unique<ServerRuntime>(options_.runtime);
    SetUpControls();
}

HostMainWindow::~HostMainWindow() {
    for (auto& [nCamera, slot] : viewers_)
        delete slot.window.data();
    for (auto& [nCamera, preview] : previews_)
        delete preview;
    runtime_->Shutdown();
}

QWidget* HostMainWindow::Control(int id) const {
    for (QWidget* child : findChildren<QWidget*>()) {
        if (child->property("id").toInt() == id)
            return child;
    }
    return nullptr;
}

void HostMainWindow::SetUpControls() {
    for (int i = 0; i <= 8; ++i)
        ui_->cryptBox->addItem(QCoreApplication::translate("HostMainWindow", ImageCipherName(i)));
    for (int i = 0; i <= 9; ++i)
        ui_->sensitivityBox->addItem(QString::number(i));
    const QRegularExpression digits(QStringLiteral("[0-9]{0,%1}").arg(NUMBER_DIGITS_MAX));
    for (QLineEdit* edit : {ui_->qualityEdit, ui_->cycleEdit, ui_->daysEdit, ui_->portEdit})
        edit->setValidator(new QRegularExpressionValidator(digits, edit));
    for (QLineEdit* edit : {ui_->passwordEdit, ui_->confirmEdit})
        edit->setValidator(new PasswordValidator(edit));
    ui_->detectIndicator->hide();
    ui_->saveIndicator->hide();
    SetBackground(ui_->detectIndicator, DETECT_COLOUR);
    SetBackground(ui_->saveIndicator, SAVE_COLOUR);
    SetBackground(ui_->statusField, STATE_COLOURS[0]);

    connect(ui_->cameraBox, &QComboBox::activated, this, [this](int row) {
        CommitFields();
        SelectCamera(
            FindCameraByBoxText(runtime_->Cameras(), ui_->cameraBox->itemText(row).toStdString()));
    });
    connect(ui_->useCheck, &QCheckBox::clicked, this,
            [this](bool f) { EditCamera([f](CameraSettings& s) { s.fUse = f; }); });
    connect(ui_->previewCheck, &QCheckBox::clicked, this, [this](bool f) {
        previewClosed_[nSelected_] = false;
        EditCamera([f](CameraSettings& s) { s.fPreview = f; });
    });
    connect(ui_->sendCheck, &QCheckBox::clicked, this,
            [this](bool f) { EditCamera([f](CameraSettings& s) { s.fSend = f; }); });
    connect(ui_->changeCheck, &QCheckBox::clicked, this,
            [this](bool f) { EditCamera([f](CameraSettings& s) { s.fChange = f; }); });
    connect(ui_->saveCheck, &QCheckBox::clicked, this,
            [this](bool f) { EditCamera([f](CameraSettings& s) { s.fSave = f; }); });
    connect(ui_->formatBox, &QComboBox::activated, this,
            [this](int row) { EditCamera([row](CameraSettings& s) { s.nFormat = row; }); });
    connect(ui_->sensitivityBox, &QComboBox::activated, this,
            [this](int row) { EditCamera([row](CameraSettings& s) { s.nSensitivity = row; }); });
    const std::pair<QRadioButton*, int> positions[] = {{ui_->stampNone, 0},
                                                       {ui_->stampTopLeft, 1},
                                                       {ui_->stampTopRight, 2},
                                                       {ui_->stampBottomLeft, 3},
                                                       {ui_->stampBottomRight, 4}};
    for (const auto& position : positions) {
        const int nTime = position.second;
        connect(position.first, &QRadioButton::clicked, this,
                [this, nTime] { EditCamera([nTime](CameraSettings& s) { s.nTime = nTime; }); });
    }
    connect(ui_->fontButton, &QPushButton::clicked, this, &HostMainWindow::ChooseFont);
    connect(ui_->viewerButton, &QPushButton::clicked, this, [this] { OpenViewer(nSelected_); });

    connect(ui_->qualityEdit, &QLineEdit::editingFinished, this,
            [this] { CommitField(Field::kQuality); });
    connect(ui_->cycleEdit, &QLineEdit::editingFinished, this,
            [this] { CommitField(Field::kCycle); });
    connect(ui_->daysEdit, &QLineEdit::editingFinished, this,
            [this] { CommitField(Field::kDays); });
    connect(ui_->portEdit, &QLineEdit::editingFinished, this,
            [this] { CommitField(Field::kPort); });

    connect(ui_->noSleepCheck, &QCheckBox::clicked, this,
            [this](bool f) { ShowWriteFailure(runtime_->SetNoSleep(f)); });
    connect(ui_->cryptBox, &QComboBox::activated, this,
            [this](int row) { ShowWriteFailure(runtime_->SetCrypt(static_cast<uint32_t>(row))); });
    connect(ui_->folderButton, &QPushButton::clicked, this, &HostMainWindow::ChooseFolder);
    connect(ui_->passwordEdit, &QLineEdit::textChanged, this, &HostMainWindow::PasswordEdited);
    connect(ui_->confirmEdit, &QLineEdit::textChanged, this, &HostMainWindow::PasswordEdited);
    connect(ui_->showLogButton, &QPushButton::clicked, this, &HostMainWindow::ShowLog);
    connect(ui_->clearLogButton, &QPushButton::clicked, this, &HostMainWindow::ClearLog);
    connect(ui_->exitButton, &QPushButton::clicked, this, &HostMainWindow::RequestExit);

    connect(ui_->propertyButton, &QPushButton::clicked, this, &HostMainWindow::OpenProperty);

    // The storage controls come later.
    for (QWidget* widget :
         {static_cast<QWidget*>(ui_->storageCheck), static_cast<QWidget*>(ui_->storageBox),
          static_cast<QWidget*>(ui_->storageButton)})
        widget->setEnabled(false);
}

uint32_t HostMainWindow::Start() {
    if (uint32_t err = runtime_->Start()) {
        Tell(QCoreApplication::translate("HostMainWindow",
                                         "カメラ情報を格納するメモリ確保に失敗しました!"));
        return err;
    }
    fStarted_ = true;
    fLoading_ = true;
    LoadGlobals();
    FillCameraBox();
    fLoading_ = false;
    SelectCamera(runtime_->Cameras().empty() ? -1 : 0);
    SetUpTray();
    if (options_.fTimer) {
        timer_ = new QTimer(this);
        connect(timer_, &QTimer::timeout, this, &HostMainWindow::TimerTick);
        timer_->start(static_cast<int>(RUNTIME_TICK_MS));
        previewTimer_ = new QTimer(this);
        connect(previewTimer_, &QTimer::timeout, this, &HostMainWindow::PreviewTick);
        previewTimer_->start(static_cast<int>(PREVIEW_MS));
    }
    return 0;
}

void HostMainWindow::LoadGlobals() {
    const ServerSettings& s = runtime_->Settings();
    ui_->folderEdit->setText(QString::fromStdString(s.cFolder));
    ui_->cryptBox->setCurrentIndex(static_cast<int>(s.nCrypt));
    ui_->noSleepCheck->setChecked(s.fNoSleep);
    const QLineEdit::EchoMode echo = (s.nDebug & 4) != 0 ? QLineEdit::Normal : QLineEdit::Password;
    for (QLineEdit* edit : {ui_->passwordEdit, ui_->confirmEdit}) {
        edit->setEchoMode(echo);
        edit->setText(QString::fromStdString(s.cPassword));
    }
    ui_->portEdit->setText(QString::number(s.nPort));
    if (s.nLeft != 0 || s.nTop != 0)
        move(s.nLeft, s.nTop);
}

void HostMainWindow::FillCameraBox() {
    ui_->cameraBox->clear();
    for (const CameraEntry& camera : runtime_->Cameras())
        ui_->cameraBox->addItem(QString::fromStdString(CameraBoxText(camera.settings)));
}

void HostMainWindow::SelectCamera(int nCamera) {
    const int nCount = static_cast<int>(runtime_->Cameras().size());
    nSelected_ = nCamera >= 0 && nCamera < nCount ? nCamera : -1;
    ui_->detectIndicator->hide();
    ui_->saveIndicator->hide();
    nDetectTick_ = nSaveTick_ = 0;
    LoadCamera();
}

void HostMainWindow::LoadCamera() {
    fLoading_ = true;
    ui_->formatBox->clear();
    if (nSelected_ < 0) {
        for (QLineEdit* edit : {ui_->qualityEdit, ui_->cycleEdit, ui_->daysEdit})
            edit->clear();
        ui_->sentCount->setText(QStringLiteral("0"));
        ui_->droppedCount->setText(QStringLiteral("0"));
    } else {
        const CameraSettings& s = runtime_->Cameras()[static_cast<size_t>(nSelected_)].settings;
        ui_->cameraBox->setCurrentIndex(nSelected_);
        for (const CaptureFormat& format : s.formats)
            ui_->formatBox->addItem(QString::fromStdString(FormatDisplayText(format)));
        ui_->formatBox->setCurrentIndex(s.nFormat);
        ui_->useCheck->setChecked(s.fUse != 0);
        ui_->previewCheck->setChecked(s.fPreview != 0);
        ui_->sendCheck->setChecked(s.fSend != 0);
        ui_->saveCheck->setChecked(s.fSave != 0);
        ui_->changeCheck->setChecked(s.fChange != 0);
        ui_->sensitivityBox->setCurrentIndex(std::clamp(s.nSensitivity, 0, 9));
        ui_->qualityEdit->setText(QString::number(s.nQuality));
        ui_->cycleEdit->setText(QString::number(s.nCycle));
        ui_->daysEdit->setText(QString::number(s.nDays));
        QRadioButton* positions[] = {ui_->stampNone, ui_->stampTopLeft, ui_->stampTopRight,
                                     ui_->stampBottomLeft, ui_->stampBottomRight};
        positions[std::clamp(s.nTime, 0, 4)]->setChecked(true);
        RefreshCounts();
    }
    fLoading_ = false;
    ApplyEnabling();
}

void HostMainWindow::ApplyEnabling() {
    const bool fAgree = ui_->passwordEdit->text() == ui_->confirmEdit->text();
    const CameraSettings* s =
        nSelected_ >= 0 ? &runtime_->Cameras()[static_cast<size_t>(nSelected_)].settings : nullptr;
    const bool fPresent = fAgree && s != nullptr && s->nConnect != 0;
    for (QWidget* widget :
         {static_cast<QWidget*>(ui_->formatBox), static_cast<QWidget*>(ui_->qualityEdit),
          static_cast<QWidget*>(ui_->cycleEdit), static_cast<QWidget*>(ui_->useCheck),
          static_cast<QWidget*>(ui_->previewCheck), static_cast<QWidget*>(ui_->sendCheck),
          static_cast<QWidget*>(ui_->changeCheck), static_cast<QWidget*>(ui_->saveCheck),
          static_cast<QWidget*>(ui_->stampNone), static_cast<QWidget*>(ui_->stampTopLeft),
          static_cast<QWidget*>(ui_->stampTopRight), static_cast<QWidget*>(ui_->stampBottomLeft),
          static_cast<QWidget*>(ui_->stampBottomRight), static_cast<QWidget*>(ui_->fontButton),
          static_cast<QWidget*>(ui_->cryptBox), static_cast<QWidget*>(ui_->propertyButton)})
        widget->setEnabled(fPresent);
    ui_->sensitivityBox->setEnabled(fPresent && s->fChange != 0);
    ui_->daysEdit->setEnabled(fPresent && s->fSave != 0);
    ui_->cameraBox->setEnabled(fAgree && s != nullptr);
    ui_->viewerButton->setEnabled(fAgree && s != nullptr);
    for (QWidget* widget :
         {static_cast<QWidget*>(ui_->noSleepCheck), static_cast<QWidget*>(ui_->folderEdit),
          static_cast<QWidget*>(ui_->folderButton), static_cast<QWidget*>(ui_->portEdit),
          static_cast<QWidget*>(ui_->statusField), static_cast<QWidget*>(ui_->stateText),
          static_cast<QWidget*>(ui_->showLogButton), static_cast<QWidget*>(ui_->clearLogButton)})
        widget->setEnabled(fAgree);
    ui_->exitButton->setEnabled(fAgree && !fExitConfirmed_);
}

void HostMainWindow::RefreshCounts() {
    if (nSelected_ < 0 || !fStarted_)
        return;
    CameraCounts counts = runtime_->CountsOf(nSelected_);
    ui_->sentCount->setText(QString::number(counts.nSent));
    ui_->droppedCount->setText(QString::number(counts.nDropped));
}

void HostMainWindow::ShowStatus(int32_t nStatus) {
    const int n = std::clamp<int32_t>(nStatus, 0, 4);
    SetBackground(ui_->statusField, STATE_COLOURS[n]);
    ui_->stateText->setText(StateText(n));
    ApplyEnabling();
}

// --- numeric fields ---

QLineEdit* HostMainWindow::FieldEdit(Field field) const {
    switch (field) {
    case Field::kQuality:
        return ui_->qualityEdit;
    case Field::kCycle:
        return ui_->cycleEdit;
    case Field::kDays:
        return ui_->daysEdit;
    case Field::kPort:
        return ui_->portEdit;
    }
    return nullptr;
}

uint32_t HostMainWindow::FieldValue(Field field) const {
    if (field == Field::kPort)
        return runtime_->Settings().nPort;
    const CameraSettings& s = runtime_->Cameras()[static_cast<size_t>(nSelected_)].settings;
    switch (field) {
    case Field::kQuality:
        return static_cast<uint32_t>(s.nQuality);
    case Field::kCycle:
        return static_cast<uint32_t>(s.nCycle);
    default:
        return static_cast<uint32_t>(s.nDays);
    }
}

// A field takes its value when the user is done with it, never halfway
// through typing: the value is brought into range and shown, and only then
// written and acted upon. An empty field gets its value back.
void HostMainWindow::CommitField(Field field) {
    if (!fStarted_ || fLoading_ || (field != Field::kPort && nSelected_ < 0))
        return;
    QLineEdit* edit = FieldEdit(field);
    const uint32_t nOld = FieldValue(field);
    const QString text = edit->text();
    if (text.isEmpty()) {
        edit->setText(QString::number(nOld));
        return;
    }
    uint64_t nTyped = text.toULongLong();
    if (text.size() > NUMBER_DIGITS_MAX)
        nTyped = UINT64_MAX;
    uint64_t nMin = 0;
    uint64_t nMax = 100;
    switch (field) {
    case Field::kQuality:
        break;
    case Field::kCycle:
        nMin = 1;
        nMax = CYCLE_MAX_SECONDS;
        break;
    case Field::kDays:
        nMin = 1;
        nMax = INT32_MAX;
        break;
    case Field::kPort:
        nMin = 1;
        nMax = 65535;
        break;
    }
    const auto nValue = static_cast<uint32_t>(std::clamp(nTyped, nMin, nMax));
    if (edit->text() != QString::number(nValue))
        edit->setText(QString::number(nValue));
    if (nValue == nOld)
        return;
    switch (field) {
    case Field::kQuality:
        EditCamera([nValue](CameraSettings& s) { s.nQuality = static_cast<int>(nValue); });
        break;
    case Field::kCycle:
        EditCamera([nValue](CameraSettings& s) { s.nCycle = static_cast<int>(nValue); });
        break;
    case Field::kDays:
        EditCamera([nValue](CameraSettings& s) { s.nDays = static_cast<int>(nValue); });
        break;
    case Field::kPort:
        ShowWriteFailure(runtime_->SetPort(nValue));
        break;
    }
}

void HostMainWindow::CommitFields() {
    for (Field field : {Field::kQuality, Field::kCycle, Field::kDays, Field::kPort})
        CommitField(field);
}

// --- camera edits ---

void HostMainWindow::EditCamera(const std::function<void(CameraSettings&)>& change) {
    if (fLoading_ || nSelected_ < 0)
        return;
    CameraSettings s = runtime_->Cameras()[static_cast<size_t>(nSelected_)].settings;
    change(s);
    ShowWriteFailure(runtime_->EditCamera(nSelected_, CameraRequestOf(s)));
    LoadCamera();
}

void HostMainWindow::ChooseFont() {
    if (nSelected_ < 0)
        return;
    std::string text = StampFontText(runtime_->Cameras()[static_cast<size_t>(nSelected_)].settings);
    if (!ChooseFontText(this, text, DefaultStampFont(), options_.fontDialog))
        return;
    ShowWriteFailure(runtime_->SetCameraFont(nSelected_, text));
}

void HostMainWindow::ChooseFolder() {
    const std::string start = runtime_->Settings().cFolder;
    std::string chosen;
    if (!brindle::ChooseFolder(this, start, chosen, options_.folderDialog))
        return;
    if (chosen.size() > FOLDER_TEXT_MAX) {
        Tell(QCoreApplication::translate("HostMainWindow",
                                         "保存フォルダのパスが長すぎます(%1バイトまで)。")
                 .arg(FOLDER_TEXT_MAX));
        return;
    }
    ShowWriteFailure(runtime_->SetImageFolder(chosen));
    ui_->folderEdit->setText(QString::fromStdString(runtime_->Settings().cFolder));
}

// Agreeing fields are the password. Filling them at start agrees with the
// password in force, which the runtime does not write again: "Passwd" keeps
// its time until the password really changes.
void HostMainWindow::PasswordEdited() {
    ApplyEnabling();
    if (fLoading_ || !fStarted_ || ui_->passwordEdit->text() != ui_->confirmEdit->text())
        return;
    ShowWriteFailure(runtime_->SetPassword(ui_->passwordEdit->text().toStdString(),
                                           SystemTimeToFileTime(clock_.LocalNow())));
}

void HostMainWindow::ShowWriteFailure(uint32_t nError) {
    if (nError == 0)
        return;
    Tell(QCoreApplication::translate("HostMainWindow", "設定ファイル%1に書き込めません(0x%2)")
             .arg(QString::fromStdString(runtime_->SettingsFile()))
             .arg(nError, 8, 16, QLatin1Char('0')));
}

// --- log, about, exit ---

void HostMainWindow::ShowLog() {
    LogFlush();
    const QString path =
        QString::fromStdString(options_.runtime.cDataFolder + "/" + SERVER_LOG_FILE_NAME);
    QFile file(path);
    bool fOpened = file.open(QIODevice::ReadOnly);
    file.close();
    if (fOpened) {
        fOpened = options_.openLog ? options_.openLog(path)
                                   : QDesktopServices::openUrl(QUrl::fromLocalFile(path));
    }
    if (!fOpened)
        Tell(QCoreApplication::translate("HostMainWindow", "ログファイル%1を開けません").arg(path));
}

void HostMainWindow::ClearLog() {
    if (Ask(QCoreApplication::translate("HostMainWindow", "ログを消去しますか?"),
            QMessageBox::Yes | QMessageBox::No) == IDYES)
        LogClear();
}

void HostMainWindow::ShowAbout() {
    auto* box = new QMessageBox(QMessageBox::Information, CAPTION,
                                QStringLiteral("Brindle Host Ver 1.02"), QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("aboutBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setIconPixmap(ProgramIcon().pixmap(32, 32));
    box->open();
}

void HostMainWindow::RequestExit() {
    if (fExitConfirmed_)
        return;
    if (Ask(QCoreApplication::translate("HostMainWindow", "終了しますか?"),
            QMessageBox::Yes | QMessageBox::No) != IDYES)
        return;
    fExitConfirmed_ = true;
    ui_->exitButton->setEnabled(false);
    close();
}

void HostMainWindow::EndWithoutQuestion() {
    fExitConfirmed_ = true;
    ui_->exitButton->setEnabled(false);
    close();
}

int HostMainWindow::Ask(const QString& text, QMessageBox::StandardButtons buttons) {
    if (options_.ask)
        return options_.ask(text, buttons);
    QMessageBox box(QMessageBox::Question, CAPTION, text, buttons, isVisible() ? this : nullptr);
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    return ButtonId(static_cast<QMessageBox::StandardButton>(box.exec()));
}

void HostMainWindow::Tell(const QString& text) {
    if (options_.tell) {
        options_.tell(text);
        return;
    }
    QMessageBox box(QMessageBox::Warning, CAPTION, text, QMessageBox::Ok,
                    isVisible() ? this : nullptr);
    box.exec();
}

// --- tray ---

void HostMainWindow::SetUpTray() {
    trayMenu_ = new QMenu(this);
    trayMenu_->setObjectName(QStringLiteral("popup"));
    trayMenu_->setProperty("id", 131);
    viewerSeparator_ = trayMenu_->addSeparator();
    const std::pair<int, QString> items[] = {
        {TRAY_OPEN, QCoreApplication::translate("HostMainWindow", "開く(&O)")},
        {TRAY_ABOUT, QCoreApplication::translate("HostMainWindow", "バージョン情報(&V)")},
        {TRAY_EXIT, QCoreApplication::translate("HostMainWindow", "終了(&X)")}};
    for (const auto& [id, text] : items) {
        QAction* action = trayMenu_->addAction(text);
        action->setProperty("id", id);
        connect(action, &QAction::triggered, this, [this, id = id] { RunTrayCommand(id); });
    }
    connect(trayMenu_, &QMenu::aboutToShow, this, &HostMainWindow::UpdateTrayMenu);
    if (!options_.fTray || !QSystemTrayIcon::isSystemTrayAvailable())
        return;
    tray_ = new QSystemTrayIcon(ProgramIcon(), this);
    tray_->setToolTip(CAPTION);
    tray_->setContextMenu(trayMenu_);
    connect(tray_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason r) {
        if (r == QSystemTrayIcon::Trigger || r == QSystemTrayIcon::DoubleClick)
            ShowFromTray();
    });
    tray_->show();
}

void HostMainWindow::RunTrayCommand(int id) {
    if (id == TRAY_OPEN) {
        ShowFromTray();
    } else if (id == TRAY_ABOUT) {
        ShowAbout();
    } else if (id == TRAY_EXIT) {
        RequestExit();
    } else if (id >= TRAY_VIEWER_BASE) {
        ImageViewerWindow* window = ViewerWindow(id - TRAY_VIEWER_BASE);
        if (window != nullptr) {
            window->showNormal();
            window->raise();
            window->activateWindow();
        }
    }
}

void HostMainWindow::UpdateTrayMenu() {
    for (auto& [nCamera, action] : viewerItems_)
        action->setEnabled(ViewerWindow(nCamera) != nullptr);
}

void HostMainWindow::AddViewerItem(int nCamera) {
    const CameraSettings& s = runtime_->Cameras()[static_cast<size_t>(nCamera)].settings;
    const QString text = QCoreApplication::translate("HostMainWindow", "カメラ#&%1 %2")
                             .arg(nCamera + 1)
                             .arg(QString::fromStdString(s.cName));
    auto it = viewerItems_.find(nCamera);
    if (it != viewerItems_.end()) {
        it->second->setText(text);
        return;
    }
    // Viewer items stay in camera order above the program's own items.
    QAction* before = viewerSeparator_;
    auto next = viewerItems_.upper_bound(nCamera);
    if (next != viewerItems_.end())
        before = next->second;
    auto* action = new QAction(text, trayMenu_);
    action->setProperty("id", TRAY_VIEWER_BASE + nCamera);
    trayMenu_->insertAction(before, action);
    const int id = TRAY_VIEWER_BASE + nCamera;
    connect(action, &QAction::triggered, this, [this, id] { RunTrayCommand(id); });
    viewerItems_[nCamera] = action;
}

void HostMainWindow::ShowFromTray() {
    setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

// --- viewers and previews ---

ImageViewerWindow* HostMainWindow::ViewerWindow(int nCamera) const {
    auto it = viewers_.find(nCamera);
    return it != viewers_.end() ? it->second.window.data() : nullptr;
}

PreviewWindow* HostMainWindow::Preview(int nCamera) const {
    auto it = previews_.find(nCamera);
    return it != previews_.end() ? it->second : nullptr;
}

void HostMainWindow::OpenViewer(int nCamera) {
    ViewerEntry* entry = runtime_->Viewer(nCamera);
    if (entry == nullptr || fClosing_)
        return;
    ViewerSlot& slot = viewers_[nCamera];
    if (!slot.window) {
        if (!slot.host)
            slot.host = std::make_unique<HostViewer>(*runtime_, nCamera, tray_ != nullptr);
        entry->nMode = VIEWER_OPENING;
        slot.window = new ImageViewerWindow(*entry, *slot.host, clock_);
        slot.window->setAttribute(Qt::WA_DeleteOnClose);
        AddViewerItem(nCamera);
    }
    slot.window->showNormal();
    slot.window->raise();
    slot.window->activateWindow();
}

void HostMainWindow::PreviewTick() {
    if (!fStarted_ || fClosing_)
        return;
    const auto& cameras = runtime_->Cameras();
    for (size_t i = 0; i < cameras.size(); ++i) {
        const int n = static_cast<int>(i);
        const bool fWanted = cameras[i].settings.fPreview != 0 && cameras[i].capture.fRunning != 0;
        PreviewWindow* preview = Preview(n);
        if (!fWanted) {
            if (preview != nullptr)
                preview->hide();
            continue;
        }
        if (previewClosed_[n])
            continue;
        if (preview == nullptr) {
            preview = new PreviewWindow(QString::fromStdString(cameras[i].settings.cName));
            connect(preview, &PreviewWindow::ClosedByUser, this,
                    [this, n] { previewClosed_[n] = true; });
            previews_[n] = preview;
        }
        QImage picture;
        if (runtime_->ComposePreviewOf(n, picture) == 0)
            preview->SetPicture(picture);
        if (!preview->isVisible())
            preview->show();
    }
}

// --- timer ---

void HostMainWindow::TimerTick() {
    if (!fStarted_ || fClosing_ || fTicking_)
        return;
    const uint32_t nNow = clock_.Tick();
    if (nDetectTick_ != 0 && nNow - nDetectTick_ > INDICATOR_MS) {
        nDetectTick_ = 0;
        ui_->detectIndicator->hide();
    }
    if (nSaveTick_ != 0 && nNow - nSaveTick_ > INDICATOR_MS) {
        nSaveTick_ = 0;
        ui_->saveIndicator->hide();
    }
    fTicking_ = true;
    runtime_->Tick();
    fTicking_ = false;
    FollowProperty();
}

// --- what the runtime reports ---

void HostMainWindow::CameraStartFailed(const CameraSettings& camera, uint32_t nCode,
                                       const std::string& hint) {
    ServerHost::CameraStartFailed(camera, nCode, hint);
    Tell(QString::fromStdString(StartFailureText(camera.cName, nCode, hint)));
}

void HostMainWindow::CameraStopFailed(const CameraSettings& camera) {
    ServerHost::CameraStopFailed(camera);
    Tell(QString::fromStdString(StopFailureText(camera.cName)));
}

void HostMainWindow::CameraSettingsApplied(int nCamera) {
    if (nCamera == nSelected_)
        LoadCamera();
}

bool HostMainWindow::AskCreateImageFolder(const std::string& folder) {
    return Ask(QCoreApplication::translate("HostMainWindow",
                                           "保存フォルダ %1\nが見つかりません。作成しますか?")
                   .arg(QString::fromStdString(folder)),
               QMessageBox::Ok | QMessageBox::Cancel) == IDOK;
}

void HostMainWindow::ChangeDetected(int nCamera) {
    if (nCamera != nSelected_)
        return;
    nDetectTick_ = NonZeroTickOf(clock_.Tick());
    ui_->detectIndicator->show();
}

void HostMainWindow::ImageSaved(int nCamera) {
    if (nCamera != nSelected_)
        return;
    nSaveTick_ = NonZeroTickOf(clock_.Tick());
    ui_->saveIndicator->show();
}

bool HostMainWindow::WantsLiveFrame(int nCamera) {
    auto it = viewers_.find(nCamera);
    return it != viewers_.end() && it->second.host && it->second.host->WantsLive();
}

void HostMainWindow::LiveFrame(int nCamera, const CaptureFrame&, const CompositionSurface& composed,
                               uint64_t ftCapture) {
    auto it = viewers_.find(nCamera);
    if (it != viewers_.end() && it->second.host)
        it->second.host->OfferLive(composed, ftCapture);
}

// Connection threads: everything is handed to the GUI thread.
void HostMainWindow::PeerShown(const std::string& peer) {
    QMetaObject::invokeMethod(
        this, [this, text = QString::fromStdString(peer)] { ui_->statusField->setText(text); },
        Qt::QueuedConnection);
}

void HostMainWindow::StatusChanged(int32_t nStatus) {
    QMetaObject::invokeMethod(
        this, [this, nStatus] { ShowStatus(nStatus); }, Qt::QueuedConnection);
}

void HostMainWindow::CipherWarning(bool fShow) {
    QMetaObject::invokeMethod(
        this, [this, fShow] { ui_->cryptFailedLabel->setVisible(fShow); }, Qt::QueuedConnection);
}

void HostMainWindow::SentCountsChanged() {
    QMetaObject::invokeMethod(
        this, [this] { RefreshCounts(); }, Qt::QueuedConnection);
}

void HostMainWindow::ImageDropped(int, uint32_t) {
    QMetaObject::invokeMethod(
        this, [this] { RefreshCounts(); }, Qt::QueuedConnection);
}

// --- window events ---

void HostMainWindow::hideEvent(QHideEvent* event) {
    CommitFields();
    QWidget::hideEvent(event);
}

void HostMainWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && isMinimized() && tray_ != nullptr) {
        // The tray icon brings it back.
        QTimer::singleShot(0, this, [this] {
            setWindowState(windowState() & ~Qt::WindowMinimized);
            hide();
        });
    }
    QWidget::changeEvent(event);
}

void HostMainWindow::contextMenuEvent(QContextMenuEvent* event) {
    if (tray_ == nullptr && trayMenu_ != nullptr) {
        UpdateTrayMenu();
        trayMenu_->popup(event->globalPos());
    }
}

// The title bar's close asks as "終了" does. A close that arrives while the
// timer's tick runs (a message box's nested loop) is posted again.
void HostMainWindow::closeEvent(QCloseEvent* event) {
    if (fClosed_) {
        event->accept();
        return;
    }
    if (!fExitConfirmed_) {
        event->ignore();
        QTimer::singleShot(0, this, &HostMainWindow::RequestExit);
        return;
    }
    fClosing_ = true;
    if (fTicking_) {
        event->ignore();
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    CommitFields();
    for (auto& [nCamera, slot] : viewers_)
        delete slot.window.data();
    viewers_.clear();
    for (auto& [nCamera, preview] : previews_)
        delete preview;
    previews_.clear();
    if (timer_ != nullptr)
        timer_->stop();
    if (previewTimer_ != nullptr)
        previewTimer_->stop();
    runtime_->Shutdown();
    // Where the window was, unless it is minimised; under Wayland the
    // position is not known and the stored one stays.
    if (fStarted_ && !isMinimized() && QGuiApplication::platformName() != "wayland")
        ShowWriteFailure(runtime_->SavePlacement(x(), y()));
    if (tray_ != nullptr)
        tray_->hide();
    fClosed_ = true;
    event->accept();
    emit Closed();
}

} // namespace brindle
