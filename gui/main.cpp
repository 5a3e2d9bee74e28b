// The TORVELA window.
#include <QApplication>
#include <QElapsedTimer>
#include <QFontDatabase>
#include <cstdio>
#include <string_view>

#include "main_window.hpp"
#include "window/driver.hpp"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view a(argv[i]);
        if (a == "--version" || a == "-V") {
            std::printf("torvela %s\n", TORVELA_VERSION);
            return 0;
        }
        if (a == "--help" || a == "-h") {
            std::printf("usage: torvela [-h|--help] [-V|--version] [Qt options]\n\n%s", torvela::window_help);
            return 0;
        }
    }
    QElapsedTimer since_start;
    since_start.start();
    QApplication app(argc, argv);
    // Japanese captions need a CJK font; use one when the system has it.
    QStringList families = {"Noto Sans CJK JP", "Noto Sans CJK SC", "Noto Serif CJK JP", "Noto Serif CJK SC"};
    QStringList present;
    for (const QString& f : families)
        if (QFontDatabase::hasFamily(f)) present << f;
    QFont font = app.font();
    if (!present.isEmpty()) font.setFamilies(QStringList{app.font().family()} + present);
    font.setPointSize(8);
    app.setFont(font);

    torvela_gui::main_window w;
    if (qEnvironmentVariableIsSet("TORVELA_FIRST_PAINT_EXIT")) {
        w.on_first_paint = [&] {
            std::printf("first paint after %lld ms\n", static_cast<long long>(since_start.elapsed()));
            std::fflush(stdout);
            app.quit();
        };
    }
    w.show();
    return app.exec();
}
