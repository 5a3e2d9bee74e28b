// The Qt window as a bench of a shop (tools/test-shop runs it): ERASE ALL
// FLASH pressed in the window against the simulated writer on COM1, then
// what the window shows once its courier has tried the shop. Prints the
// status line and the detail under it; exit 0 when the erase completed.
// The shop is the environment's (TORVELA_SHOP, TORVELA_SHOP_TOKEN).
// Usage: torvela-window-publishes [--waits]   (--waits: the shop cannot take
// the record, and the window says so)
#include <QApplication>
#include <QDir>
#include <QPlainTextEdit>
#include <QTest>
#include <cstdio>

#include "main_window.hpp"
#include "qt_drive.hpp"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    torvela_gui::main_window w;
    w.show();
    QTest::qWait(300);
    auto& f = w.form();
    torvela_gui::answer_yes_soon();
    QTest::mouseClick(w.widget("allunlock_erase"), Qt::LeftButton);
    torvela_gui::run_until([&] { return f.job_no == 0 && f.engine_step == 0 && f.Label9.caption != ""; }, 60000);
    // The courier has its own thread: the window goes on drawing meanwhile.
    auto* detail = qobject_cast<QPlainTextEdit*>(w.widget("detail"));
    const QDir outbox(qEnvironmentVariable("XDG_DATA_HOME") + "/torvela/outbox");
    if (argc > 1 && QString(argv[1]) == "--waits")
        torvela_gui::run_until([&] { return detail && !detail->toPlainText().isEmpty(); }, 10000);
    else
        torvela_gui::run_until([&] { return outbox.isEmpty(QDir::Files | QDir::Hidden); }, 10000);
    std::printf("%s\n%s\n", f.Label9.caption.c_str(), detail ? detail->toPlainText().toStdString().c_str() : "");
    return f.Label9.caption == "ALL FLASH ERASE COMPLETE" ? 0 : 1;
}
