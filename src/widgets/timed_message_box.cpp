#include "widgets/timed_message_box.h"

#include <QAbstractButton>
#include <QPointer>
#include <QTimer>

#include <algorithm>
#include <map>

namespace brindle {

namespace {

struct ButtonIdPair {
    QMessageBox::StandardButton button;
    int nId;
};

constexpr ButtonIdPair BUTTON_IDS[] = {
    {QMessageBox::Ok, IDOK},       {QMessageBox::Cancel, IDCANCEL}, {QMessageBox::Abort, IDABORT},
    {QMessageBox::Retry, IDRETRY}, {QMessageBox::Ignore, IDIGNORE}, {QMessageBox::Yes, IDYES},
    {QMessageBox::No, IDNO},       {QMessageBox::Close, IDCLOSE},   {QMessageBox::Help, IDHELP},
};

// The id of every button of the box, with the control changes applied in
// order (a later entry may refer to an id an earlier one gave).
std::map<QAbstractButton*, int> ApplyChanges(QMessageBox& box,
                                             const std::vector<ControlChange>& changes) {
    std::map<QAbstractButton*, int> ids;
    for (QAbstractButton* button : box.buttons())
        ids[button] = ButtonId(box.standardButton(button));
    for (const ControlChange& change : changes) {
        if (change.nId == 0)
            break;
        for (auto& [button, nId] : ids) {
            if (nId != change.nId)
                continue;
            if (!change.text.isEmpty())
                button->setText(change.text);
            if (change.nNewId != 0)
                nId = change.nNewId;
            if (change.nFlags & CONTROL_DISABLE)
                button->setEnabled(false);
            break;
        }
    }
    return ids;
}

} // namespace

int ButtonId(QMessageBox::StandardButton button) {
    for (const ButtonIdPair& pair : BUTTON_IDS) {
        if (pair.button == button)
            return pair.nId;
    }
    return 0;
}

int TimedMessageBox(const TimedMessageBoxOptions& options, QWidget* owner, const QString& text,
                    int nLimitMs) {
    // On the heap: an owner closed while the box waits takes its children
    // with it, and the guard tells us so.
    QPointer<QMessageBox> box =
        new QMessageBox(QMessageBox::Question, options.caption, text, options.buttons, owner);
    box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    std::map<QAbstractButton*, int> ids = ApplyChanges(*box, options.changes);

    bool fTimedOut = false;
    auto* limit = new QTimer(box);
    limit->setSingleShot(true);
    QObject::connect(limit, &QTimer::timeout, box, [&fTimedOut, box] {
        fTimedOut = true;
        box->done(0);
    });
    limit->start(std::max(nLimitMs, 0));

    box->exec();
    int nResult = IDCANCEL;
    if (fTimedOut) {
        nResult = TIMED_OUT_RESULT;
    } else if (box) {
        auto clicked = ids.find(box->clickedButton());
        if (clicked != ids.end())
            nResult = clicked->second;
    }
    delete box.data();
    return nResult;
}

} // namespace brindle
