#include "widgets/window_tree.h"

#include "common/text_utils.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>

#include <algorithm>

namespace brindle {

namespace {

// BS_CHECKBOX, BS_AUTOCHECKBOX, BS_3STATE and BS_AUTO3STATE.
bool IsCheckBoxStyle(uint32_t nStyle) {
    uint32_t nType = nStyle & 0xF;
    return nType == 2 || nType == 3 || nType == 5 || nType == 6;
}

// A Windows trackbar's scroll request for a Qt slider action.
int ScrollCode(int nAction) {
    switch (nAction) {
    case QAbstractSlider::SliderSingleStepAdd:
        return TREE_TB_LINEDOWN;
    case QAbstractSlider::SliderSingleStepSub:
        return TREE_TB_LINEUP;
    case QAbstractSlider::SliderPageStepAdd:
        return TREE_TB_PAGEDOWN;
    case QAbstractSlider::SliderPageStepSub:
        return TREE_TB_PAGEUP;
    case QAbstractSlider::SliderToMinimum:
        return TREE_TB_TOP;
    case QAbstractSlider::SliderToMaximum:
        return TREE_TB_BOTTOM;
    default:
        return TREE_TB_THUMBTRACK;
    }
}

QWidget* MakeWidget(const TreeWindow& w, QWidget* parent) {
    const QString text = QString::fromStdString(w.cText);
    const std::string& c = w.cClass;
    if (EqualNoCase(c, "Button")) {
        if (IsCheckBoxStyle(w.nStyle))
            return new QCheckBox(text, parent);
        return new QPushButton(text, parent);
    }
    if (EqualNoCase(c, "ComboBox")) {
        auto* combo = new QComboBox(parent);
        for (const std::string& item : w.items)
            combo->addItem(QString::fromStdString(item));
        return combo;
    }
    if (EqualNoCase(c, "Edit"))
        return new QLineEdit(text, parent);
    if (EqualNoCase(c, "SysTabControl32")) {
        auto* tabs = new QTabBar(parent);
        for (const std::string& item : w.items)
            tabs->addTab(QString::fromStdString(item));
        return tabs;
    }
    if (EqualNoCase(c, "msctls_trackbar32")) {
        bool fVertical = (w.nStyle & TREE_TBS_VERT) != 0;
        auto* slider = new QSlider(fVertical ? Qt::Vertical : Qt::Horizontal, parent);
        // A vertical trackbar has its minimum at the top.
        slider->setInvertedAppearance(fVertical);
        slider->setRange(w.nMinimum, w.nMaximum);
        slider->setPageStep(w.nPage > 0 ? w.nPage : 1);
        return slider;
    }
    if (EqualNoCase(c, "Static"))
        return new QLabel(text, parent);
    return new QWidget(parent);
}

} // namespace

void WindowTree::Clear() {
    for (const QPointer<QWidget>& widget : widgets_) {
        if (widget) {
            widget->hide();
            widget->deleteLater();
        }
    }
    widgets_.clear();
}

void WindowTree::Build(QWidget* root, const std::vector<TreeWindow>& windows, const QFont& font) {
    Clear();
    widgets_.resize(windows.size());
    for (size_t i = 0; i < windows.size(); ++i) {
        const TreeWindow& w = windows[i];
        if (w.fTop)
            continue;
        QWidget* parent = root;
        if (w.nParent >= 0 && size_t(w.nParent) < i && widgets_[size_t(w.nParent)])
            parent = widgets_[size_t(w.nParent)];
        widgets_[i] = Create(i, w, parent);
        widgets_[i]->setFont(font);
    }
}

QWidget* WindowTree::Create(size_t nIndex, const TreeWindow& w, QWidget* parent) {
    QWidget* widget = MakeWidget(w, parent);
    int nHeight = w.position[3];
    // A list's described height includes its drop-down; the box itself
    // keeps its own height, and so does a tab control's row of tabs.
    if (qobject_cast<QComboBox*>(widget) != nullptr || qobject_cast<QTabBar*>(widget) != nullptr)
        nHeight = std::min(nHeight, widget->sizeHint().height());
    widget->setGeometry(w.position[0], w.position[1], w.position[2], nHeight);
    Connect(nIndex, widget);
    widgets_[nIndex] = widget;
    Apply(nIndex, w);
    return widget;
}

void WindowTree::Connect(size_t nIndex, QWidget* widget) {
    if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
        connect(button, &QAbstractButton::clicked, this, [this, nIndex] { emit Clicked(nIndex); });
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        connect(combo, &QComboBox::activated, this,
                [this, nIndex](int nEntry) { emit Selected(nIndex, nEntry); });
    } else if (auto* tabs = qobject_cast<QTabBar*>(widget)) {
        connect(tabs, &QTabBar::currentChanged, this, [this, nIndex](int nTab) {
            if (!fApplying_ && nTab >= 0)
                emit TabSelected(nIndex, nTab);
        });
    } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
        // Emitted for the user's actions only, with the position moved.
        connect(slider, &QAbstractSlider::actionTriggered, this, [this, nIndex, slider](int a) {
            if (a != QAbstractSlider::SliderNoAction)
                emit SliderMoved(nIndex, slider->sliderPosition(), ScrollCode(a));
        });
        connect(slider, &QAbstractSlider::sliderReleased, this, [this, nIndex, slider] {
            emit SliderMoved(nIndex, slider->sliderPosition(), TREE_TB_THUMBPOSITION);
        });
    }
}

void WindowTree::Apply(size_t nIndex, const TreeWindow& w) {
    QWidget* widget = Widget(nIndex);
    if (widget == nullptr)
        return;
    fApplying_ = true;
    const bool fVisible = (w.nStyle & TREE_WS_VISIBLE) != 0;
    widget->setEnabled((w.nStyle & TREE_WS_DISABLED) == 0);
    widget->setVisible(fVisible);
    if (auto* check = qobject_cast<QCheckBox*>(widget)) {
        check->setChecked(w.nValue != 0);
    } else if (auto* combo = qobject_cast<QComboBox*>(widget)) {
        combo->setCurrentIndex(w.nValue >= 0 && w.nValue < combo->count() ? w.nValue : -1);
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
        edit->setText(QString::fromStdString(w.cText));
        edit->setReadOnly((w.nStyle & TREE_ES_READONLY) != 0);
    } else if (auto* tabs = qobject_cast<QTabBar*>(widget)) {
        if (w.nValue >= 0 && w.nValue < tabs->count())
            tabs->setCurrentIndex(w.nValue);
    } else if (auto* slider = qobject_cast<QSlider*>(widget)) {
        slider->setValue(w.nValue);
    } else if (auto* label = qobject_cast<QLabel*>(widget)) {
        label->setText(QString::fromStdString(w.cText));
    } else if (qobject_cast<QAbstractButton*>(widget) == nullptr) {
        // Pages: the one shown goes on top of its siblings.
        if (fVisible)
            widget->raise();
        else
            widget->lower();
    }
    fApplying_ = false;
}

QWidget* WindowTree::Widget(size_t nIndex) const {
    return nIndex < widgets_.size() ? widgets_[nIndex].data() : nullptr;
}

} // namespace brindle
