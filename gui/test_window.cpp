// The real window on a real Qt event loop, against the simulated writer on a
// pseudo-terminal.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <memory>

#include "main_window.hpp"

using torvela_gui::main_window;

namespace {

QString label9(main_window& w) { return static_cast<QLabel*>(w.widget("Label9"))->text(); }

// Answers the next Yes/No box with Yes, as soon as it is open.
void answer_yes_soon() {
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
    }

    void cleanup() { stop_sim(); }

    void start_state() {
        main_window w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.windowTitle(), QString("TORVELA"));
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
        QVERIFY(!w.widget("unit_3mode")->isVisibleTo(&w));
    }

    void erase_all_against_simulator() {
        start_sim();
        main_window w;
        w.show();
        answer_yes_soon();
        QTest::mouseClick(w.widget("allunlock_erase"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(label9(w), QString("ALL FLASH ERASE COMPLETE"), 20000);
        QTRY_VERIFY(w.form().job_no == 0);
        const std::vector<QString> expected = {"", "START TO ERASE ALL FLASH  ", "CHECK WRITER-ID OK", "ERASE NOW!",
                                               "ALL FLASH ERASE COMPLETE"};
        QCOMPARE(w.status_history, expected);
        QVERIFY(w.spinner_steps > 0);
        QVERIFY(!w.serial().port.isOpen());
        QCOMPARE(QString::fromStdString(w.form().Combo1.caption), QString("commimucation stop"));
        QVERIFY(w.widget("Image1")->isVisible());
        QVERIFY(!w.widget("Image2")->isVisible());
    }

    void port_open_failure() {
        main_window w;
        w.show();
        auto* combo = static_cast<QComboBox*>(w.widget("Combo2"));
        combo->setEditText("COM16");  // no link, no /dev/ttyS15
        QCOMPARE(w.form().comm_port, 16);
        answer_yes_soon();
        QTest::mouseClick(w.widget("allunlock_erase"), Qt::LeftButton);
        QTRY_COMPARE(label9(w), QString("PORT OPEN ERROR"));
        QVERIFY(!w.serial().port.isOpen());
        QCOMPARE(w.form().job_no, 0);
        QTest::qWait(700);
        QCOMPARE(label9(w), QString("PORT OPEN ERROR"));
    }

    void unplug_mid_job() {
        start_sim({"--erase-ms", "8000"});
        main_window w;
        w.show();
        answer_yes_soon();
        QTest::mouseClick(w.widget("allunlock_erase"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(label9(w), QString("ERASE NOW!"), 10000);
        sim_->kill();  // the cable is pulled
        sim_->waitForFinished(3000);
        QTRY_COMPARE_WITH_TIMEOUT(label9(w), QString("COMMUNICATION ERROR"), 10000);
        QVERIFY(!w.serial().port.isOpen());
        QCOMPARE(w.form().job_no, 0);
        QCOMPARE(w.form().engine_step, 0);
        sim_.reset();
        QFile::remove(link());
    }

    void service_view_and_screenshots() {
        main_window w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QDir().mkpath(TORVELA_SHOTS);
        QVERIFY(w.grab().save(QString(TORVELA_SHOTS) + "/start.png"));
        QVERIFY(!w.widget("command1")->isVisible());
        QTest::keyClick(&w, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(w.service_view());
        QVERIFY(w.height() > 210);
        QVERIFY(w.widget("command1")->isVisible());
        QVERIFY(w.widget("trace")->isVisible());
        // The hidden working-area buttons still follow the model.
        QVERIFY(!w.widget("ramdata_store")->isVisible());
        QVERIFY(w.grab().save(QString(TORVELA_SHOTS) + "/service.png"));
        QTest::keyClick(&w, Qt::Key_F12, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(w.size(), QSize(503, 210));
    }
};

int main(int argc, char** argv) {
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
