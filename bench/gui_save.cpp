// A save in the Qt window against the simulated writer daemon, with the
// service view closed and then open: the save's time and the window's CPU
// (user and system) for each, and their ratios. Run it beside a CPU hog to
// see the view on a busy machine (bench/gui_save.sh does both).
// Usage: bench_gui_save SIMULATOR
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <sys/resource.h>

#include "main_window.hpp"
#include "qt_drive.hpp"

namespace {

double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct measured {
    double seconds = 0, cpu = 0;
    bool complete = false;
};

// One save of the simulator's unit into `path`, the view as `view_open`.
measured save_once(const QString& path, bool view_open) {
    torvela_gui::main_window w;
    w.show();
    w.set_service_view(view_open);
    QTest::qWait(300);
    // The file as SELECT FILE leaves a new name: the save button offered.
    auto& f = w.form();
    f.memory_file_path = path.toStdString();
    f.Label10.caption = f.memory_file_path;
    f.ramdata_get.visible = true;
    torvela_gui::run_until([] { return false; }, 100);  // the window takes the change
    torvela_gui::answer_yes_soon();
    const double cpu0 = cpu_seconds();
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(w.widget("ramdata_get"), Qt::LeftButton);
    torvela_gui::run_until([&] { return f.job_no == 0 && f.engine_step == 0; }, 120000);
    return {static_cast<double>(clock.elapsed()) / 1000.0, cpu_seconds() - cpu0, f.Label9.caption == "SAVE MEMORIES TO FILE COMPLETE"};
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_gui_save SIMULATOR\n");
        return 2;
    }
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    measured runs[2];
    for (int view = 0; view < 2; ++view) {
        // A fresh writer holding its unit for each save (a save empties it).
        QProcess sim;
        sim.start(argv[1], {"--port", "1"});
        if (!sim.waitForStarted()) return 1;
        torvela_gui::run_until([&] { return QFileInfo::exists(home.path() + "/torvela/ports/com1"); }, 5000);
        runs[view] = save_once(home.filePath(QString("unit%1.dat").arg(view)), view == 1);
        sim.terminate();
        sim.waitForFinished(3000);
        QFile::remove(home.path() + "/torvela/ports/com1");
        std::printf("save, service view %-6s %6.2f s  CPU %5.2f s%s\n", view ? "open" : "closed",
                    runs[view].seconds, runs[view].cpu, runs[view].complete ? "" : "  (did not complete)");
    }
    std::printf("ratio open/closed: time %.3f (target <= 1.02), CPU %.2f (target <= 2)\n",
                runs[1].seconds / runs[0].seconds, runs[1].cpu / runs[0].cpu);
    return runs[0].complete && runs[1].complete ? 0 : 1;
}
