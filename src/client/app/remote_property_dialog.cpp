#include "client/app/remote_property_dialog.h"

#include "common/font_text.h"
#include "common/log.h"
#include "image/font_mapping.h"
#include "ui_remote_property_dialog.h"

#include <QCloseEvent>
#include <QScreen>

#include <algorithm>

namespace brindle {

TreeWindow TreeWindowOf(const ReplicaControl& c) {
    TreeWindow w;
    w.cText = c.cText;
    w.cClass = c.cClass;
    std::copy(std::begin(c.position), std::end(c.position), std::begin(w.position));
    w.nStyle = c.nStyle;
    w.nParent = c.nParent;
    w.fTop = c.fDialog;
    w.nValue = c.nValue;
    w.items = c.items;
    w.nMinimum = c.nMinimum;
    w.nMaximum = c.nMaximum;
    w.nPage = c.nPage;
    return w;
}

std::vector<TreeWindow> TreeWindowsOf(const ReplicaDescription& description) {
    std::vector<TreeWindow> windows;
    windows.reserve(description.controls.size());
    for (const ReplicaControl& c : description.controls)
        windows.push_back(TreeWindowOf(c));
    return windows;
}

RemotePropertyDialog::RemotePropertyDialog(PropertyReplicaHost& requests, const Clock& clock,
                                           QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::RemotePropertyDialog>()), requests_(requests),
      replica_(*this, clock) {
    ui_->setupUi(this);
    ui_->cover->hide();
    setWindowModality(Qt::WindowModal);
    timer_.setSingleShot(true);
    connect(&timer_, &QTimer::timeout, this, &RemotePropertyDialog::RunTimers);
    connect(&tree_, &WindowTree::Clicked, this, [this](size_t i) {
        replica_.UserClick(i);
        Schedule();
    });
    connect(&tree_, &WindowTree::Selected, this, [this](size_t i, int nEntry) {
        replica_.UserSelect(i, nEntry);
        Schedule();
    });
    connect(&tree_, &WindowTree::TabSelected, this, [this](size_t i, int nTab) {
        replica_.UserTab(i, nTab);
        Schedule();
    });
    connect(&tree_, &WindowTree::SliderMoved, this, [this](size_t i, int nPosition, int nCode) {
        replica_.UserSlider(i, nPosition, nCode);
        Schedule();
    });
}

RemotePropertyDialog::~RemotePropertyDialog() = default;

void RemotePropertyDialog::OpenFor(const void* server, bool fStorageLinked) {
    Finish();
    QRect screen = this->screen() != nullptr ? this->screen()->availableGeometry() : QRect();
    replica_.Open(server, fStorageLinked, screen.isValid() ? screen.width() : 32767,
                  screen.isValid() ? screen.height() : 32767);
    setWindowTitle(tr("プロパティ"));
    Schedule();
}

void RemotePropertyDialog::Packet(const void* server, std::span<const uint8_t> payload) {
    replica_.Packet(server, payload);
    Schedule();
}

void RemotePropertyDialog::ServerGone(const void* server) {
    replica_.ServerGone(server);
    Schedule();
}

void RemotePropertyDialog::RunTimers() {
    replica_.Tick();
    Schedule();
}

bool RemotePropertyDialog::Covered() const {
    return !ui_->cover->isHidden();
}

// Runs the replica's timers when they are due; the slot is looked at every
// 10 ms while an action waits for it.
void RemotePropertyDialog::Schedule() {
    std::optional<uint32_t> due = replica_.NextDue();
    if (!due) {
        timer_.stop();
        return;
    }
    timer_.start(static_cast<int>(std::min<uint32_t>(*due, REPLICA_BUSY_LIMIT_MS)));
}

void RemotePropertyDialog::Finish() {
    timer_.stop();
    tree_.Clear();
    ui_->cover->hide();
    ui_->content->setEnabled(true);
}

void RemotePropertyDialog::closeEvent(QCloseEvent* event) {
    replica_.Close();
    Finish();
    QMetaObject::invokeMethod(this, &RemotePropertyDialog::Closed, Qt::QueuedConnection);
    QDialog::closeEvent(event);
}

void RemotePropertyDialog::reject() {
    close();
}

bool RemotePropertyDialog::RequestSlotFree(const void* server) {
    return requests_.RequestSlotFree(server);
}

void RemotePropertyDialog::PostRequest(const void* server, int32_t nCamera, int32_t nKind,
                                       int32_t nControlKind, uint32_t hWindow, int32_t nCode,
                                       int32_t nValue, const std::string& cText) {
    requests_.PostRequest(server, nCamera, nKind, nControlKind, hWindow, nCode, nValue, cText);
}

void RemotePropertyDialog::Build() {
    const ReplicaDescription& d = replica_.Description();
    QFont font = this->font();
    LogFont logFont;
    if (!d.cFont.empty() && TextToFont(d.cFont, logFont) == 0)
        font = QFontFromLogFont(logFont, font);
    if (!d.controls.empty() && d.controls.front().fDialog) {
        const ReplicaControl& top = d.controls.front();
        setWindowTitle(QString::fromStdString(top.cText));
        resize(std::max(top.position[2], 1), std::max(top.position[3], 1));
    }
    ui_->content->setGeometry(rect());
    ui_->cover->setGeometry(rect());
    tree_.Build(ui_->content, TreeWindowsOf(d), font);
    if (QWidget* owner = parentWidget())
        move(owner->frameGeometry().center() - rect().center());
    show();
    raise();
}

void RemotePropertyDialog::ControlChanged(size_t nIndex) {
    if (const ReplicaControl* c = replica_.Control(nIndex))
        tree_.Apply(nIndex, TreeWindowOf(*c));
    update();
}

// The replica forgets the dialog right after this; the window goes with it.
void RemotePropertyDialog::CloseDialog() {
    Finish();
    hide();
    QMetaObject::invokeMethod(this, &RemotePropertyDialog::Closed, Qt::QueuedConnection);
}

void RemotePropertyDialog::ShowBusy(bool fShow) {
    ui_->cover->setGeometry(rect());
    ui_->cover->setVisible(fShow);
    if (fShow)
        ui_->cover->raise();
    ui_->content->setEnabled(!fShow);
}

void RemotePropertyDialog::Refused(const std::string& reason) {
    LogWrite("プロパティ記述を破棄(%s)\r\n", reason.c_str());
}

} // namespace brindle
