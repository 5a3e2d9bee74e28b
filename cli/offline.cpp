// The operations that need no writer: the ports this machine has, and a
// service engineer's reading of memories files.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>

#include "cli.hpp"
#include "device_port.hpp"
#include "platform/disk_files.hpp"
#include "rom_data/memory_files.hpp"

namespace cli {

using namespace torvela;

namespace {

// A memories file checked as TRANSMIT MEMORIES checks it; empty when it is
// none, with the reason on standard error.
std::optional<memories_image> read_memories(const std::string& path) {
    std::string copy, why;
    if (check_memories_file(path, copy, &why) != memories_check::complete) {
        std::fprintf(stderr, "torvela-cli: %s is no memories file%s\n", path.c_str(),
                     why.empty() ? ": it cannot be read" : (": " + why).c_str());
        return std::nullopt;
    }
    return memories_image_of(copy);
}

// Sixteen bytes as an engineer reads them: offset, hex, and the printable
// characters beside.
std::string dump_row(const page_bytes& page, std::size_t at) {
    std::string row(2, ' ');
    char b[8];
    std::snprintf(b, sizeof b, "%02zX ", at);
    row += b;
    for (std::size_t i = at; i < at + 16; ++i) {
        std::snprintf(b, sizeof b, " %02X", page[i]);
        row += b;
    }
    row += "  |";
    for (std::size_t i = at; i < at + 16; ++i) row += page[i] >= 0x20 && page[i] < 0x7F ? static_cast<char>(page[i]) : '.';
    return row + "|";
}

// A page's 512 digits, as its four lines in a memories file.
std::string page_digits(const page_bytes& page) {
    std::string out;
    for (const std::string& line : page_lines(page)) out += line;
    return out;
}

std::string page_address(std::size_t p) { return address_line(static_cast<std::uint32_t>(p) * 256); }

// The runs of bytes in which two pages differ, as "00-1F, 80".
std::vector<std::pair<std::size_t, std::size_t>> differing_runs(const page_bytes& a, const page_bytes& b) {
    std::vector<std::pair<std::size_t, std::size_t>> runs;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == b[i]) continue;
        if (!runs.empty() && runs.back().second + 1 == i)
            runs.back().second = i;
        else
            runs.emplace_back(i, i);
    }
    return runs;
}

}  // namespace

int show_file(const options& o, output& out) {
    const auto image = read_memories(o.files[0]);
    if (!image) return unusable;
    out.result("HEADER  " + image->header + "\nCPU     " + image->cpu,
               {text_field("header", image->header), text_field("cpu", image->cpu)});
    for (std::size_t p = 0; p < image->pages.size(); ++p) {
        const page_bytes& page = image->pages[p];
        std::string text = "PAGE " + page_address(p);
        for (std::size_t at = 0; at < page.size(); at += 16) text += "\n" + dump_row(page, at);
        out.result(text, {text_field("page", page_address(p)), text_field("bytes", page_digits(page))});
    }
    return success;
}

int diff_files(const options& o, output& out) {
    const auto a = read_memories(o.files[0]), b = read_memories(o.files[1]);
    if (!a || !b) return unusable;
    int differ = 0;
    for (const auto& [what, x, y] : {std::tuple{"header", a->header, b->header}, {"CPU", a->cpu, b->cpu}}) {
        if (x == y) continue;
        ++differ;
        out.result(std::string(what) + ": " + x + " | " + y, {text_field("where", what), text_field("a", x), text_field("b", y)});
    }
    int pages = 0;
    for (std::size_t p = 0; p < a->pages.size(); ++p) {
        const auto runs = differing_runs(a->pages[p], b->pages[p]);
        if (runs.empty()) continue;
        ++pages;
        std::string ranges;
        char r[16];
        for (const auto& [from, to] : runs) {
            if (from == to)
                std::snprintf(r, sizeof r, "%02zX", from);
            else
                std::snprintf(r, sizeof r, "%02zX-%02zX", from, to);
            ranges += (ranges.empty() ? "" : ", ") + std::string(r);
        }
        out.result(page_address(p) + " bytes " + ranges, {text_field("where", page_address(p)), text_field("bytes", ranges)});
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
    namespace fs = std::filesystem;
    std::map<std::string, std::string> named;  // a device's real path: the COMn that stand for it
    for (int n = 1; n <= 16; ++n) {
        const port_choice c = resolve_port(n);
        std::error_code ec;
        const bool there = !c.device.empty() && fs::exists(path_from_utf8(c.device), ec);
        const std::string state = !c.error.empty() ? c.error : there ? "present" : "missing";
        char line[256];
        std::snprintf(line, sizeof line, "COM%-3d %-24s %s", n, c.device.empty() ? "-" : c.device.c_str(), state.c_str());
        out.result(line, {text_field("port", "COM" + std::to_string(n)), text_field("device", c.device),
                          text_field("state", state)});
        if (there) {
            const std::string real = fs::canonical(path_from_utf8(c.device), ec).string();
            named[real] += (named[real].empty() ? "COM" : ", COM") + std::to_string(n);
        }
    }
#ifndef _WIN32
    std::vector<std::string> devices;
    std::error_code ec;
    for (fs::directory_iterator it("/dev/serial/by-id", ec), end; !ec && it != end; it.increment(ec))
        devices.push_back(it->path().string());
    for (fs::directory_iterator it("/dev", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0) devices.push_back(it->path().string());
    }
    std::sort(devices.begin(), devices.end());
    if (!out.json())
        out.result(std::string("\nserial devices present:") + (devices.empty() ? " none (no USB adapter plugged in)" : ""), {});
    for (const std::string& d : devices) {
        const std::string real = fs::canonical(d, ec).string();
        const auto as = named.find(real);
        const std::string com = as != named.end() ? as->second : "no COMn: ln -s " + d + " " + ports_folder() + "/comN";
        char line[512];
        std::snprintf(line, sizeof line, "  %-48s %s", d.c_str(), com.c_str());
        out.result(line, {text_field("serial_device", d), text_field("port", com)});
    }
#endif
    return success;
}

}  // namespace cli
