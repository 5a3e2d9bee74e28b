// The operations that need no writer: the ports this machine has, and a
// service engineer's reading of memories files.
#include <algorithm>
#include <cstdio>

#include "console.hpp"
#include "cli.hpp"
#include "device_port.hpp"
#include "platform/disk_files.hpp"
#include "rom_data/memory_files.hpp"
#include "memories/memories_reading.hpp"

namespace cli {

using namespace torvela;

namespace {

// A memories file checked as TRANSMIT MEMORIES checks it; empty when it is
// none, with the reason on standard error and, for a script, in the last
// object.
std::optional<memories_image> read_memories(const std::string& path, output& out) {
    std::string copy, why;
    if (check_memories_file(path, copy, &why) != memories_check::complete) {
        const std::string said = path + " is no memories file" + (why.empty() ? ": it cannot be read" : ": " + why);
        say(stderr, "torvela-cli: %s\n", said.c_str());
        out.end("file problem", "", said, unusable);
        return std::nullopt;
    }
    return memories_image_of(copy);
}

// The first byte in which two pages differ.
long long first_difference(const page_bytes& a, const page_bytes& b) {
    return std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin();
}

}  // namespace

int show_file(const options& o, output& out) {
    const auto image = read_memories(o.files[0], out);
    if (!image) return unusable;
    out.result("HEADER  " + image->header + "\nCPU     " + image->cpu,
               {text_field("header", image->header), text_field("cpu", image->cpu)});
    for (std::size_t p = 0; p < image->pages.size(); ++p) {
        const page_bytes& page = image->pages[p];
        std::string text = "PAGE " + page_address_line(p);
        for (std::size_t at = 0; at < page.size(); at += 16) text += "\n" + hex_row(page, at);
        out.result(text, {text_field("page", page_address_line(p)), text_field("bytes", page_digits(page))});
    }
    if (out.json()) out.end("success", "", "", success);
    return success;
}

int diff_files(const options& o, output& out) {
    const auto a = read_memories(o.files[0], out);
    if (!a) return unusable;
    const auto b = read_memories(o.files[1], out);
    if (!b) return unusable;
    int differ = 0;
    for (const auto& [what, x, y] : {std::tuple{"header", a->header, b->header}, {"CPU", a->cpu, b->cpu}}) {
        if (x == y) continue;
        ++differ;
        out.result(std::string(what) + ": " + x + " | " + y, {text_field("where", what), text_field("a", x), text_field("b", y)});
    }
    int pages = 0;
    for (std::size_t p = 0; p < a->pages.size(); ++p) {
        const std::string ranges = differing_bytes(a->pages[p], b->pages[p]);
        if (ranges.empty()) continue;
        ++pages;
        out.result(page_address_line(p) + " bytes " + ranges,
                   {text_field("where", page_address_line(p)),
                    number_field("offset", first_difference(a->pages[p], b->pages[p])), text_field("bytes", ranges)});
    }
    const bool equal = differ == 0 && pages == 0;
    const std::string summary = equal ? "the two memories files are equal"
                                      : std::to_string(pages) + " of 128 pages differ" +
                                            (differ ? ", and the header or CPU line" : "");
    if (out.json())
        out.end(equal ? "success" : "different", summary, "", equal ? success : different);
    else
        out.result(summary, {});
    return equal ? success : different;
}

// COM1 to COM16 as this machine resolves them, then the serial devices
// present and the COMn that stands for each.
int list_ports(const options&, output& out) {
    const std::vector<port_state> ports = com_ports();
    for (const port_state& p : ports) {
        char line[256];
        std::snprintf(line, sizeof line, "COM%-3d %-24s %s", p.com, p.device.empty() ? "-" : p.device.c_str(),
                      p.state.c_str());
        out.result(line, {text_field("port", "COM" + std::to_string(p.com)), text_field("device", p.device),
                          text_field("state", p.state)});
    }
#ifndef _WIN32
    const std::vector<serial_device> devices = serial_devices_present(ports);
    if (!out.json())
        out.result(std::string("\nserial devices present:") + (devices.empty() ? " none (no USB adapter plugged in)" : ""), {});
    for (const serial_device& d : devices) {
        const std::string com = !d.coms.empty() ? d.coms : "no COMn: ln -s " + d.path + " " + ports_folder() + "/comN";
        char line[512];
        std::snprintf(line, sizeof line, "  %-48s %s", d.path.c_str(), com.c_str());
        out.result(line, {text_field("serial_device", d.path), text_field("port", com)});
    }
#endif
    if (out.json()) out.end("success", "", "", success);
    return success;
}

}  // namespace cli
