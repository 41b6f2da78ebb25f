// Waiting in widget tests: the event loop must keep running, because the
// code under test lives on the same thread.
#pragma once

#include "support/wait_until.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <functional>

namespace brindle::test {

// WaitUntil, processing events while it polls.
inline bool WaitWithEvents(const std::function<bool()>& done, int limitMs = 20000) {
    return WaitUntil(
        [&] {
            QCoreApplication::processEvents();
            return done();
        },
        limitMs);
}

// Calls `act` on the first visible message box once it is shown, from the
// event loop that shows it.
inline void OnMessageBoxShown(std::function<void(QMessageBox&)> act) {
    auto* poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box && box->isVisible()) {
                poll->stop();
                poll->deleteLater();
                act(*box);
                return;
            }
        }
    });
    poll->start();
}

} // namespace brindle::test
