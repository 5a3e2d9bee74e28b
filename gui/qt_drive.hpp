// Driving the real window on its real event loop, as an operator would:
// the window's test and the window's bench share it.
#pragma once

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

namespace torvela_gui {

// Runs the real event loop until `done` holds (QTRY's waits sleep between
// event batches, which would slow the 4 ms engine tick down).
inline bool run_until(const std::function<bool()>& done, int timeout_ms) {
    if (done()) return true;
    QEventLoop loop;
    QTimer check, limit;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) loop.quit();
    });
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    check.start(10);
    limit.setSingleShot(true);
    limit.start(timeout_ms);
    loop.exec();
    return done();
}

// What a person would wait for at most on a loaded machine; the waits end
// as soon as their condition holds.
constexpr int long_wait = 30000;

// Answers the next Yes/No box with Yes, as soon as it is open.
inline void answer_yes_soon() {
    auto* poll = new QTimer;
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            box->button(QMessageBox::Yes)->click();
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start();
}

}  // namespace torvela_gui
