// A headless run of the tool against the simulated writer: presses a button,
// answers Yes, and prints each status line as it changes, stamped with the
// (virtual) time since the press.
#include <cstdio>
#include <cstring>
#include <string>

#include "engine/engine.hpp"
#include "erase/erase.hpp"
#include "harness.hpp"

int main(int argc, char** argv) {
    const std::string what = argc > 1 ? argv[1] : "erase";
    writer_sim::rig r;
    std::string last = r.form->Label9.caption;
    r.after_event = [&](writer_sim::rig& g) {
        if (g.form->Label9.caption != last) {
            last = g.form->Label9.caption;
            std::printf("%8.3f s  %s\n", static_cast<double>(g.line.now_us) * 1e-6, last.c_str());
        }
    };
    if (what == "erase") {
        std::printf("ERASE ALL FLASH on COM1 (simulated writer)\n");
        torvela::allunlock_erase_Click(*r.form);
    } else {
        std::fprintf(stderr, "usage: %s [erase]\n", argv[0]);
        return 2;
    }
    if (!r.run_job()) {
        std::printf("the job did not end\n");
        return 1;
    }
    std::printf("port %s, frames on the line: %zu\n", r.port.PortOpen() ? "open" : "closed",
                r.line.log.size());
    return r.form->Label9.caption.find("ERROR") == std::string::npos ? 0 : 1;
}
