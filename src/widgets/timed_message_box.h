// A question box that closes itself after a time limit, for failures the
// user should see but nobody may be there to answer (a lost server, a full
// relay buffer).
#pragma once

#include <QMessageBox>
#include <QString>

#include <string>
#include <vector>

class QWidget;

namespace brindle {

// The button ids results and control changes are written in.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;
inline constexpr int IDCLOSE = 8;
inline constexpr int IDHELP = 9;

// The result of a box that closed itself at its limit.
inline constexpr int TIMED_OUT_RESULT = 32000;

// The id of a standard button, 0 for one without an id.
int ButtonId(QMessageBox::StandardButton button);

// Flag of a ControlChange: the control is disabled.
inline constexpr int CONTROL_DISABLE = 1;

// One change to a button of the box, found by its id: a non-empty text
// replaces its caption, a non-zero nNewId replaces its id (the box then
// returns the new id when it is pressed), CONTROL_DISABLE disables it.
// The relay passes {IDOK, IDCANCEL}: its OK button answers as Cancel.
struct ControlChange {
    int nId = 0;
    int nNewId = 0;
    int nFlags = 0;
    QString text;
};

struct TimedMessageBoxOptions {
    QString caption; // "Brindle Host" or "Brindle View"
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    std::vector<ControlChange> changes;
};

// Shows `text` with the question icon, on top of other windows, and waits
// in a nested event loop (the GUI keeps running) until a button is pressed
// or `nLimitMs` has passed. Returns the id of the pressed button (after the
// control changes), TIMED_OUT_RESULT when the box closed itself, and
// IDCANCEL when it was closed without a button. `owner` may be null.
int TimedMessageBox(const TimedMessageBoxOptions& options, QWidget* owner, const QString& text,
                    int nLimitMs);

} // namespace brindle
