// The real window on a real Qt event loop, against the simulated writer on a
// pseudo-terminal.
#include <QAbstractItemView>
#include <QApplication>
#include <QPointer>
#include <QComboBox>
#include <QDialog>
#include <QEventLoop>
#include <functional>
#include <QFileDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QScreen>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "main_window.hpp"
#include "qt_drive.hpp"
#include "rom_data/memory_files.hpp"

using torvela_gui::main_window;
using torvela_gui::run_until;
using torvela_gui::answer_yes_soon;
using torvela_gui::long_wait;

namespace {

QString text(main_window& w, const char* label) { return static_cast<QLabel*>(w.widget(label))->text(); }
QString label9(main_window& w) { return text(w, "Label9"); }

// Picks `path` in the next open dialog, as soon as it is open (again on
// every poll while that dialog stays open: it may still be loading its
// folder). The folder the dialog started in goes to `started_in`. Once its
// dialog has gone the poll ends: it never picks in a later dialog, which
// belongs to another pick.
void pick_file_soon(const QString& path, std::shared_ptr<QString> started_in = nullptr) {
    auto* poll = new QTimer;
    poll->setInterval(50);
    auto picked_in = std::make_shared<QPointer<QFileDialog>>();
    auto picked = std::make_shared<bool>(false);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, path, picked, picked_in, started_in] {
        QFileDialog* d = nullptr;
        for (QWidget* t : QApplication::topLevelWidgets())
            if (auto* fd = qobject_cast<QFileDialog*>(t); fd && fd->isVisible()) d = fd;
        if (*picked && (!d || d != *picked_in)) {
            poll->stop();
            poll->deleteLater();
            return;
        }
        if (!d) return;
        QCOMPARE(d->nameFilters(), (QStringList{"Memory files (*.dat)",
                                                "ROM images (*.mot *.s19 *.s28 *.s37 *.srec *.hex)",
                                                "All files (*)"}));
        QCOMPARE(d->labelText(QFileDialog::Accept), QString("Select"));
        if (started_in && !*picked) *started_in = d->directory().absolutePath();
        *picked_in = d;
        // Typed into the name field, as an operator would (selectFile leaves
        // a focused field alone), with nothing picked in the lists: a file
        // picked there would win over the typed name.
        for (auto* view : d->findChildren<QAbstractItemView*>()) view->clearSelection();
        if (auto* name = d->findChild<QLineEdit*>("fileNameEdit")) name->setText(path);
        static_cast<QDialog*>(d)->accept();  // QFileDialog::accept checks the choice
        *picked = true;
    });
    poll->start();
}

// Presses `button`, answers its box Yes, and runs until the job it started
// has ended (the port closed on the sequencer's next tick): the status then.
QString run_job(main_window& w, const char* button, int timeout_ms = 60000) {
    answer_yes_soon();
    QTest::mouseClick(w.widget(button), Qt::LeftButton);
    run_until([&] { return w.form().job_no == 0; }, timeout_ms);
    return label9(w);
}

// SELECT FILE on `path`, typed into the dialog; the folder it started in
// goes to `started_in`.
bool choose(main_window& w, const QString& path, std::shared_ptr<QString> started_in = nullptr) {
    pick_file_soon(path, started_in);
    QTest::mouseClick(w.widget("file_select"), Qt::LeftButton);
    return run_until([&] { return text(w, "Label10") == path; }, long_wait);
}

// A ROM data file (S2 records, 32 bytes each) of `size` bytes at 000000.
QByteArray rom_image(int size) {
    QByteArray text = "S0030000FC\r\n";
    for (int at = 0; at < size; at += 32) {
        QByteArray rec;
        rec.append(char(32 + 4)).append(char(0)).append(char(at >> 8)).append(char(at & 0xFF));
        for (int i = 0; i < 32; ++i) rec.append(char((at + i) * 7 + 1));
        unsigned sum = 0;
        for (char c : rec) sum += static_cast<unsigned char>(c);
        rec.append(char(~sum & 0xFF));
        text += "S2" + rec.toHex().toUpper() + "\r\n";
    }
    return text + "S804000000FB\r\n";
}

void write_bytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

}  // namespace

class window_test : public QObject {
    Q_OBJECT
    QTemporaryDir home_;
    std::unique_ptr<QProcess> sim_;

    QString link() const { return home_.path() + "/torvela/ports/com1"; }

    void start_sim(const QStringList& extra = {}) {
        sim_ = std::make_unique<QProcess>();
        sim_->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim_->start(TORVELA_SIM, QStringList{"--port", "1"} + extra);
        QVERIFY(sim_->waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(link()), 5000);
    }

    // SELECT FILE on a ROM data file of `size` bytes, in a new window.
    void choose_rom_file(main_window& w, int size) {
        const QString rom = home_.path() + "/image.mot";
        write_bytes(rom, rom_image(size));
        w.show();
        QVERIFY(choose(w, rom));
    }

    void stop_sim() {
        if (!sim_) return;
        sim_->terminate();
        sim_->waitForFinished(3000);
        sim_.reset();
        QFile::remove(link());
    }

private slots:
    void initTestCase() {
        QVERIFY(home_.isValid());
        qputenv("XDG_CONFIG_HOME", home_.path().toUtf8());
        qputenv("XDG_DATA_HOME", (home_.path() + "/data").toUtf8());
        // A home of the test's own, with a documents folder for the dialog.
        qputenv("HOME", home_.path().toUtf8());
        QVERIFY(QDir(home_.path()).mkpath("Documents"));
    }

    void cleanup() { stop_sim(); }

    // With the service view open the window lies within the screen's free
    // area, every control inside it, SAVE TRACE on screen, the text no
    // smaller on the screen than 8 pixels; the operator's view keeps the
    // design's size where it fits. Run on a 1366x768 laptop screen at the
    // desktop scales an operator sets (QT_SCALE_FACTOR).
    void fits_the_screen() {
        main_window w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const QRect room = w.screen()->availableGeometry();
        const QSize design = w.size();
        w.set_service_view(true);
        QCoreApplication::processEvents();
        QVERIFY2(room.contains(w.frameGeometry()), qPrintable(QString("window %1x%2 at %3,%4 on %5x%6")
                                                                  .arg(w.frameGeometry().width())
                                                                  .arg(w.frameGeometry().height())
                                                                  .arg(w.x())
                                                                  .arg(w.y())
                                                                  .arg(room.width())
                                                                  .arg(room.height())));
        for (QWidget* c : w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (c->isVisibleTo(&w)) QVERIFY2(w.rect().contains(c->geometry()), qPrintable(c->objectName()));
        QWidget* save = w.widget("save_trace");
        QVERIFY(save->isVisible());
        QVERIFY(room.contains(QRect(save->mapToGlobal(QPoint(0, 0)), save->size())));
        const double on_screen = QFontInfo(w.font()).pixelSize() * w.devicePixelRatioF();
        QVERIFY2(on_screen >= 8, qPrintable(QString::number(on_screen)));
        QDir().mkpath(TORVELA_SHOTS);
        w.grab().save(QString(TORVELA_SHOTS) + "/laptop-" + qgetenv("QT_SCALE_FACTOR") + ".png");
        w.set_service_view(false);
        if (room.height() >= 400 && room.width() >= 600) QCOMPARE(w.size(), design);
    }

    void start_state_and_service_view() {
        main_window w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowTitle(), QString("TORVELA - COM1"));
        QCOMPARE(w.size(), QSize(503, 210));
        QSet<QString> visible;
        for (QWidget* c : w.findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            if (c->isVisibleTo(&w)) visible << c->objectName();
        QCOMPARE(visible, (QSet<QString>{"serial_name", "Combo2", "Label9", "file_select", "allunlock_erase",
                                         "Label10", "Image1", "Image10", "Image11"}));
        QCOMPARE(w.widget("allunlock_erase")->geometry(), QRect(8, 88, 153, 33));
        QCOMPARE(w.widget("Label9")->geometry(), QRect(240, 16, 257, 25));
        QCOMPARE(static_cast<QPushButton*>(w.widget("file_select"))->text(), QString("SELECT FILE "));
        QCOMPARE(static_cast<QComboBox*>(w.widget("Combo2"))->currentText(), QString("COM1"));
        QCOMPARE(static_cast<QComboBox*>(w.widget("Combo2"))->count(), 16);
        QCOMPARE(static_cast<QPushButton*>(w.widget("unit_3mode"))->text(), QString("ターゲット直接書込"));
        QDir().mkpath(TORVELA_SHOTS);
        QVERIFY(w.grab().save(QString(TORVELA_SHOTS) + "/start.png"));
        // Ctrl+Shift+F12 shows the service view below, and hides it again.
        QVERIFY(!w.widget("unit_3mode")->isVisibleTo(&w));
        QTest::keyClick(&w, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(w.service_view());
        QVERIFY(w.height() > 210);
        QVERIFY(w.widget("command1")->isVisible());
        QVERIFY(w.widget("trace")->isVisible());
        QVERIFY(!w.widget("ramdata_store")->isVisible());  // the working-area buttons still follow the model
        QVERIFY(w.grab().save(QString(TORVELA_SHOTS) + "/service.png"));
        QTest::keyClick(&w, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.size(), QSize(503, 210));
    }

    void erase_all_against_simulator() {
        start_sim();
        main_window w;
        w.show();
        QCOMPARE(run_job(w, "allunlock_erase"), QString("ALL FLASH ERASE COMPLETE"));
        const std::vector<QString> expected = {"START TO ERASE ALL FLASH  ", "CHECK WRITER-ID OK", "ERASE NOW!",
                                               "ALL FLASH ERASE COMPLETE"};
        QCOMPARE(w.status_history(), expected);
        QVERIFY(w.spinner_steps() > 0);
        QVERIFY(!w.serial().PortOpen());
        QCOMPARE(QString::fromStdString(w.form().Combo1.caption), QString("commimucation stop"));
        QVERIFY(w.widget("Image1")->isVisible());
        QVERIFY(!w.widget("Image2")->isVisible());
        // The service view lists the job as the history recorded it, with
        // KEPT UNITS under the list.
        w.set_service_view(true);
        auto* jobs = static_cast<QListWidget*>(w.widget("jobs"));
        QVERIFY(jobs->isVisible() && w.widget("kept_units")->isVisible());
        QVERIFY(jobs->count() >= 1);
        const QString last = jobs->item(jobs->count() - 1)->text();
        QVERIFY2(last.contains("  erase all flash  success"), qPrintable(last));
        QVERIFY(w.rect().contains(w.widget("kept_units")->geometry()));
    }

    // BACKUP MEMORIES in the service view: the save's file, and the writer
    // keeps its unit, so a save after it takes the same unit out.
    void backup_leaves_the_unit() {
        start_sim();
        const QString backup = home_.path() + "/backup.dat", saved = home_.path() + "/saved.dat";
        main_window w;
        w.show();
        w.set_service_view(true);
        QVERIFY(choose(w, backup));
        QTRY_VERIFY(w.widget("backup_memories")->isVisible());
        QCOMPARE(run_job(w, "backup_memories"), QString("BACKUP MEMORIES TO FILE COMPLETE"));
        QVERIFY(choose(w, saved));
        QCOMPARE(run_job(w, "ramdata_get"), QString("SAVE MEMORIES TO FILE COMPLETE"));
        QFile a(backup), b(saved);
        QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
        const QByteArray bytes = a.readAll();
        QCOMPARE(bytes.count('\n'), 642);
        QCOMPARE(bytes, b.readAll());
        stop_sim();
    }

    // A transmit the writer refuses: why and what stands, in the operator's
    // view, in the words the command line prints; gone with the next start.
    void refused_transmit_says_why() {
        start_sim();
        const QString unit = home_.path() + "/refused.dat";
        main_window w;
        w.show();
        QVERIFY(choose(w, unit));
        QCOMPARE(run_job(w, "ramdata_get"), QString("SAVE MEMORIES TO FILE COMPLETE"));
        stop_sim();
        start_sim({"--fault", "done:F5:1:ac_ac"});
        // Chosen again, the saved file offers TRANSMIT MEMORIES.
        QVERIFY(choose(w, unit));
        QTRY_VERIFY_WITH_TIMEOUT(w.widget("ramdata_store")->isVisible(), 10000);
        QCOMPARE(run_job(w, "ramdata_store"), QString("INSTALLER ERROR"));
        auto* detail = static_cast<QPlainTextEdit*>(w.widget("detail"));
        QTRY_VERIFY(detail->isVisible());
        const QString text = detail->toPlainText();
        QVERIFY2(text.startsWith("the writer on COM1 (") && text.contains(") refused writer-ID check (AC AC); "), qPrintable(text));
        QVERIFY2(text.endsWith("nothing was erased or written: the writer is as it was"), qPrintable(text));
        QVERIFY(w.rect().contains(detail->geometry()));
        QTRY_COMPARE(w.windowTitle(), QString("TORVELA - COM1 - INSTALLER ERROR"));
        QCOMPARE(run_job(w, "allunlock_erase"), QString("ALL FLASH ERASE COMPLETE"));
        QTRY_VERIFY(!detail->isVisible());
    }

    void port_open_failure() {
        main_window w;
        w.show();
        auto* combo = static_cast<QComboBox*>(w.widget("Combo2"));
        combo->setEditText("COM16");  // no link, no /dev/ttyS15
        QCOMPARE(w.form().comm_port, 16);
        QCOMPARE(run_job(w, "allunlock_erase"), QString("PORT OPEN ERROR"));
        QVERIFY(!w.serial().PortOpen());
        QTest::qWait(700);
        QCOMPARE(label9(w), QString("PORT OPEN ERROR"));
        // The trace says which device COM16 stood for and why it failed, and
        // can be saved as a text file.
        QVERIFY(w.trace_text().contains("COM16 (/dev/ttyS15) cannot be opened: "));
        const QString saved = home_.path() + "/trace.txt";
        QVERIFY(w.save_trace(saved));
        QFile t(saved);
        QVERIFY(t.open(QIODevice::ReadOnly));
        QVERIFY(t.readAll().contains("cannot be opened"));
        QVERIFY(w.widget("Label9")->toolTip().startsWith("COM16 (/dev/ttyS15): "));
        // Without hovering: the operator's view says it, and what to do; the
        // title keeps the short form.
        auto* detail = static_cast<QPlainTextEdit*>(w.widget("detail"));
        QVERIFY(detail->isVisible());
        QVERIFY(detail->toPlainText().startsWith("COM16 (/dev/ttyS15) cannot be opened: "));
        QTRY_COMPARE(w.windowTitle(), QString("TORVELA - COM16 - PORT OPEN ERROR"));
        // A trace that cannot be written says so (a full device).
        QVERIFY(!w.save_trace("/dev/full"));

        // The connect choice on a port that cannot open: the box shows what
        // the model says.
        auto* combo1 = static_cast<QComboBox*>(w.widget("Combo1"));
        combo1->setCurrentIndex(0);
        emit combo1->textActivated(combo1->currentText());
        QCOMPARE(combo1->currentText(), QString("commimucation stop"));
    }

    void choose_file_and_save_memories() {
        // A writer holding memories: header separators, CPU type M32R.
        QByteArray store(0x100000, '\xFF');
        // Spaces come back as spaces ('_' in the file); a '_' byte would not.
        const char header[21] = {'U', 'N', 'I', 'T', ' ', '1', 0, 'V', '2', '.', '0', ' ', 'A', 0,
                                 'L', 'I', 'N', 'E', ' ', '3', 0};
        for (int i = 0; i < 21; ++i) store[0xA00 + i] = header[i];
        store[0] = 0x03;
        store[1] = 0x21;
        for (int a = 0x10000; a < 0x18000; ++a) store[a] = static_cast<char>(a * 13);
        const QString image = home_.path() + "/store.bin", saved = home_.path() + "/unit.dat";
        QFile f(image);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(store);
        f.close();
        QVERIFY(!QFileInfo::exists(saved));  // a new name, typed in the dialog
        start_sim({"--load", image});

        main_window w;
        w.show();
        auto folder = std::make_shared<QString>();
        QVERIFY(choose(w, saved, folder));
        QCOMPARE(*folder, QDir(home_.path() + "/Documents").absolutePath());
        QVERIFY(w.widget("ramdata_get")->isVisible());
        QVERIFY(!w.widget("ramdata_store")->isVisible());
        // The progress figures of the service view while the pages move.
        w.set_service_view(true);
        QStringList figures;
        QTimer watch;
        connect(&watch, &QTimer::timeout, &w, [&] {
            const QString p = text(w, "progress");
            if (!p.isEmpty() && (figures.isEmpty() || figures.back() != p)) figures << p;
        });
        watch.start(50);
        QCOMPARE(run_job(w, "ramdata_get"), QString("SAVE MEMORIES TO FILE COMPLETE"));
        watch.stop();
        // The read pass (128 pages) and the verify pass (130) both move. (How
        // long the last read page stands before the verify is up to the
        // sequencer's phase: the time left across passes is the core's test.)
        QVERIFY(figures.filter(QRegularExpression("^READ  PAGES ([1-9]|[1-9][0-9]|1[01][0-9])/128 .* LEFT$")).size() >
                0);
        QVERIFY(figures.filter(QRegularExpression("^VERIFY  PAGES 130/130 ")).size() > 0);
        // Once the job has ended, the figures stand still.
        const QString final_figures = text(w, "progress");
        QVERIFY(!final_figures.contains("LEFT"));
        QTest::qWait(1200);
        QCOMPARE(text(w, "progress"), final_figures);
        QVERIFY(!w.serial().PortOpen());
        QFile result(saved);
        QVERIFY(result.open(QIODevice::ReadOnly));
        QCOMPARE(result.readLine(), QByteArray("UNIT_1/V2.0_A/LINE_3/\r\n"));
        QCOMPARE(result.readLine(), QByteArray("M32R\r\n"));

        QVERIFY(choose(w, saved, folder));
        QVERIFY(w.widget("ramdata_store")->isVisible());
        QCOMPARE(*folder, QDir(home_.path()).absolutePath());  // the folder last used
        QVERIFY(!w.widget("ramdata_get")->isVisible());
    }

    void file_dialog_without_documents() {
        // No documents folder: the dialog starts at home, not in a name
        // "Documents" that does not exist.
        QVERIFY(QDir(home_.path()).rename("Documents", "Docs"));
        main_window w;
        torvela_gui::qt_dialogs dialogs(&w);
        const QString chosen = home_.path() + "/new.dat";
        auto folder = std::make_shared<QString>();
        pick_file_soon(chosen, folder);
        const std::string got = dialogs.open_file(torvela::memory_file_filter);
        QVERIFY(QDir(home_.path()).rename("Docs", "Documents"));
        QCOMPARE(*folder, QDir(home_.path()).absolutePath());
        QCOMPARE(QString::fromStdString(got), chosen);
    }

    void service_view_jobs() {
        start_sim();
        main_window w;
        choose_rom_file(w, 0x800);
        const QStringList jobs = {"flashall_write", "unit_3mode", "writer_versionup", "flashblock_write"};
        for (const QString& name : jobs) QVERIFY(!w.widget(name)->isVisible());
        w.set_service_view(true);
        QRect row;
        for (const QString& name : jobs) {
            QWidget* b = w.widget(name);
            QVERIFY(b->isVisible());
            // In the service rows, clear of the operator's area and of each other.
            QVERIFY(b->geometry().top() >= 210);
            QVERIFY(!b->geometry().intersects(row));
            row = b->geometry();
        }
        // TRANSMIT ROM DATA end to end, with a picture of it under way.
        answer_yes_soon();
        QTest::mouseClick(w.widget("flashall_write"), Qt::LeftButton);
        QVERIFY(run_until([&] { return w.form().progress.done > 3 && w.form().job_no == 2; }, 20000));
        w.grab().save(QString(TORVELA_SHOTS) + "/progress.png");
        QVERIFY(run_until([&] { return w.form().job_no == 0; }, 60000));
        QCOMPARE(label9(w), QString("ROM DATA TRANSMIT COMPLETE"));
        // A target image is no writer program: refused before anything is sent.
        QCOMPARE(run_job(w, "writer_versionup"), QString("WRITER-ID ERROR"));
    }

    void line_lost_during_a_target_write() {
        start_sim({"--target-write-ms", "600000"});
        main_window w;
        choose_rom_file(w, 0x200);
        answer_yes_soon();
        w.set_service_view(true);
        QTest::mouseClick(w.widget("unit_3mode"), Qt::LeftButton);
        QVERIFY(run_until([&] { return w.form().engine_step == 112; }, 60000));
        sim_->kill();  // the writer side of the line is gone while the target is written
        sim_->waitForFinished(3000);
        QElapsedTimer lost;
        lost.start();
        QVERIFY(run_until([&] { return w.form().job_no == 0; }, 5000));
        QVERIFY(lost.elapsed() < 1000);
        QCOMPARE(label9(w), QString("COMMUNICATION ERROR"));
        QCOMPARE(w.form().engine_step, 0);
        QVERIFY(!w.serial().PortOpen());
        // The progress line of the dead job stands still.
        const QString final_figures = text(w, "progress");
        QVERIFY(final_figures.startsWith("VERIFY  PAGES "));
        QVERIFY(!final_figures.contains("LEFT"));
        QTest::qWait(1200);
        QCOMPARE(text(w, "progress"), final_figures);
        sim_.reset();
        QFile::remove(link());
        // The next job runs on a writer that is back.
        start_sim();
        QCOMPARE(run_job(w, "allunlock_erase"), QString("ALL FLASH ERASE COMPLETE"));
    }
};

int main(int argc, char** argv) {
    // Qt's own dialogs: a desktop's native file dialog cannot be driven headless.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    QStringList cjk;
    for (const QString& f : {QString("Noto Sans CJK JP"), QString("Noto Serif CJK JP"), QString("Noto Serif CJK SC")})
        if (QFontDatabase::hasFamily(f)) cjk << f;
    QFont font = app.font();
    if (!cjk.isEmpty()) font.setFamilies(QStringList{font.family()} + cjk);
    font.setPointSize(8);
    app.setFont(font);
    window_test t;
    return QTest::qExec(&t, argc, argv);
}

#include "test_window.moc"
