#include "server/app/host_property_dialog.h"

#include "ui_host_property_dialog.h"

#include <QCloseEvent>

#include <algorithm>
#include <map>

namespace brindle {

std::vector<TreeWindow> TreeWindowsOf(const std::vector<PropertyWindow>& windows) {
    std::map<uint32_t, int> indexOf;
    std::vector<TreeWindow> tree;
    tree.reserve(windows.size());
    for (const PropertyWindow& w : windows) {
        TreeWindow t;
        t.cText = w.cText;
        t.cClass = w.cClass;
        std::copy(std::begin(w.position), std::end(w.position), std::begin(t.position));
        t.nStyle = w.nStyle;
        t.fTop = w.hParent == 0;
        auto parent = indexOf.find(w.hParent);
        t.nParent = parent != indexOf.end() ? parent->second : -1;
        t.nValue = w.nValue;
        t.items = w.items;
        t.nMinimum = w.nMinimum;
        t.nMaximum = w.nMaximum;
        t.nPage = w.nPage;
        indexOf[w.hWindow] = static_cast<int>(tree.size());
        tree.push_back(std::move(t));
    }
    return tree;
}

HostPropertyDialog::HostPropertyDialog(PropertyRemote& remote, QWidget* parent)
    : QDialog(parent), ui_(std::make_unique<Ui::HostPropertyDialog>()), remote_(remote) {
    ui_->setupUi(this);
    connect(&tree_, &WindowTree::Clicked, this, [this](size_t i) {
        Operate(i,
                [](PropertyDialog& d, CameraControls& device, uint32_t h) { d.Click(h, device); });
    });
    connect(&tree_, &WindowTree::Selected, this, [this](size_t i, int nEntry) {
        Operate(i, [nEntry](PropertyDialog& d, CameraControls& device, uint32_t h) {
            d.SelectEntry(h, nEntry, device);
        });
    });
    connect(&tree_, &WindowTree::TabSelected, this, [this](size_t i, int nTab) {
        Operate(i,
                [nTab](PropertyDialog& d, CameraControls&, uint32_t h) { d.SelectTab(h, nTab); });
    });
    connect(&tree_, &WindowTree::SliderMoved, this, [this](size_t i, int nPosition, int) {
        Operate(i, [nPosition](PropertyDialog& d, CameraControls& device, uint32_t h) {
            d.SetSlider(h, nPosition, device);
        });
    });
}

HostPropertyDialog::~HostPropertyDialog() = default;

void HostPropertyDialog::Follow() {
    const uint64_t nRevision = remote_.Revision();
    if (nRevision == nRevision_)
        return;
    nRevision_ = nRevision;
    std::vector<PropertyWindow> windows;
    if (!remote_.Snapshot(windows) || windows.empty()) {
        // Closed by a client's new open of nothing, or its conversation's end.
        windows_.clear();
        hShown_ = 0;
        tree_.Clear();
        hide();
        return;
    }
    const bool fNew = windows.front().hWindow != hShown_;
    windows_ = std::move(windows);
    if (fNew) {
        Rebuild();
        return;
    }
    std::vector<TreeWindow> tree = TreeWindowsOf(windows_);
    for (size_t i = 0; i < tree.size(); ++i)
        tree_.Apply(i, tree[i]);
}

void HostPropertyDialog::Rebuild() {
    const PropertyWindow& top = windows_.front();
    hShown_ = top.hWindow;
    setWindowTitle(QString::fromStdString(top.cText));
    resize(std::max(top.position[2], 1), std::max(top.position[3], 1));
    ui_->content->setGeometry(rect());
    tree_.Build(ui_->content, TreeWindowsOf(windows_), font());
    show();
    raise();
}

void HostPropertyDialog::Operate(
    size_t nIndex, const std::function<void(PropertyDialog&, CameraControls&, uint32_t)>& op) {
    if (nIndex >= windows_.size())
        return;
    const uint32_t hWindow = windows_[nIndex].hWindow;
    remote_.WithDialog([&](PropertyDialog& d, CameraControls& device) { op(d, device, hWindow); });
    // The client hears of it; a refused or rounded value shows here too.
    remote_.RefreshFromView();
    Follow();
}

void HostPropertyDialog::closeEvent(QCloseEvent* event) {
    if (hShown_ != 0)
        remote_.CloseFromView(hShown_);
    hShown_ = 0;
    windows_.clear();
    tree_.Clear();
    nRevision_ = remote_.Revision();
    QDialog::closeEvent(event);
}

} // namespace brindle
