// The operations that need no writer: the ports this machine has, and a
// service engineer's reading of memories files.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "console.hpp"
#include "cli.hpp"
#include "device_port.hpp"
#include "platform/disk_files.hpp"
#include "platform/job_history.hpp"
#include "platform/sha256.hpp"
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
        const page_difference d = compare_pages(a->pages[p], b->pages[p]);
        if (d.count == 0) continue;
        ++pages;
        out.result(page_address_line(p) + " bytes " + d.runs,
                   {text_field("where", page_address_line(p)), number_field("offset", d.first),
                    text_field("bytes", d.runs)});
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

namespace cli {

namespace {

bool same_file(const std::string& a, const std::string& b) {
    if (a == b) return true;
    std::error_code ec;
    return std::filesystem::equivalent(path_from_utf8(a), path_from_utf8(b), ec) && !ec;
}

// A machine version as an operator types it: '_' read as a space, '/' as a
// separator, runs of them as one.
std::string plain_version(std::string_view v) {
    std::string out;
    for (const char c : v) {
        const bool gap = c == '_' || c == '/' || c == ' ';
        if (gap && !out.empty() && out.back() != ' ') out += ' ';
        if (!gap) out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

// The version as info prints it, or its first fields.
bool version_matches(const std::string& recorded, const std::string& wanted) {
    if (recorded == wanted || printable(recorded) == wanted) return true;
    const std::string have = plain_version(printable(recorded)), want = plain_version(wanted);
    return !want.empty() && (have == want || have.rfind(want + " ", 0) == 0);
}

}  // namespace

int show_history(const options& o, output& out) {
    const job_history history = job_history::for_user();
    // The unit FILE holds: the digest of its pages, whatever its name or
    // line ends.
    std::string unit_sha;
    if (o.unit_of) {
        std::string copy, why;
        if (check_memories_file(*o.unit_of, copy, &why) != memories_check::complete) {
            const std::string said = *o.unit_of + " holds no unit: " + (why.empty() ? "it cannot be read" : why);
            say(stderr, "torvela-cli: %s\n", said.c_str());
            out.end("file problem", "", said, unusable);
            return unusable;
        }
        unit_sha = unit_sha256(copy);
    }
    // The bench's own history, or every bench's from the shop.
    std::vector<shop_record> listed;
    std::vector<std::string> notes;
    if (o.from_shop) {
        std::string why;
        if (!shop_records(o, unit_sha, listed, why)) {
            say(stderr, "torvela-cli: %s\n", why.c_str());
            out.end("failed", "", why, failed);
            return failed;
        }
    } else {
        job_history::listing listing = history.read();
        if (!listing.refused.empty()) {
            const std::string said = "the job history is not read: " + listing.refused +
                                     "; nothing in it is trusted until this user alone may write it";
            say(stderr, "torvela-cli: %s\n", said.c_str());
            out.end("file problem", "", said, unusable);
            return unusable;
        }
        for (job_record& r : listing.records) listed.push_back({std::move(r), "", "", false});
        notes = std::move(listing.notes);
    }
    for (const std::string& note : notes) say(stderr, "torvela-cli: %s\n", note.c_str());
    int shown = 0;
    for (const shop_record& s : listed) {
        const job_record& r = s.r;
        if (o.on_file && !same_file(r.file, *o.on_file) && !(!r.file_resolved.empty() && same_file(r.file_resolved, *o.on_file)))
            continue;
        if (o.machine_version && !version_matches(r.machine_version, *o.machine_version)) continue;
        if (o.outcome_named && r.outcome != *o.outcome_named) continue;
        if (o.unit_of && r.unit_sha256 != unit_sha) continue;
        ++shown;
        // A kept copy is offered only as its save kept it: here, checked
        // by its SHA-256; at the shop, as shop-unit fetches it.
        const std::string kept_check = o.from_shop ? (s.unit_held || r.kept.empty() ? "" : "not at the shop")
                                                   : history.check_kept(r);
        std::string line = (o.from_shop ? s.bench + "  " : "") + r.time + "  " + r.program + "  " + r.port + "  " +
                           r.operation + "  " + r.outcome + "  " + r.status;
        if (!r.file.empty()) {
            line += "\n    file " + r.file;
            if (!r.file_resolved.empty() && r.file_resolved != r.file) line += " (" + r.file_resolved + ")";
            if (!r.file_sha256.empty()) line += "  sha256 " + r.file_sha256;
        }
        if (!r.unit_sha256.empty()) line += "\n    unit " + r.unit_sha256;
        if (!r.machine_version.empty() || !r.cpu.empty()) line += "\n    writer " + r.cpu + "  " + r.machine_version;
        if (!r.write_counts.empty()) line += "  write counts " + r.write_counts;
        if (!r.detail.empty()) line += "\n    " + r.detail;
        if (!r.kept.empty())
            line += "\n    kept " + r.kept + (kept_check.empty() ? "" : "  NOT OFFERED, " + kept_check);
        if (o.from_shop && !r.kept.empty() && kept_check.empty())
            line += "\n    torvela-cli shop-unit " + r.id + " FILE";
        std::vector<field> fields = {
            text_field("time", r.time), text_field("program", r.program), text_field("port", r.port),
            text_field("device", r.device), text_field("operation", r.operation), text_field("file", r.file),
            text_field("file_resolved", r.file_resolved), text_field("file_sha256", r.file_sha256),
            text_field("unit_sha256", r.unit_sha256), text_field("cpu", r.cpu),
            text_field("machine_version", r.machine_version), text_field("write_counts", r.write_counts),
            text_field("outcome", r.outcome), text_field("status", r.status), text_field("detail", r.detail),
            text_field("kept", kept_check.empty() ? r.kept : ""), text_field("kept_sha256", r.kept_sha256),
            text_field("kept_refused", kept_check.empty() ? "" : r.kept + ": " + kept_check),
            text_field("id", r.id)};
        if (o.from_shop) {
            fields.push_back(text_field("bench", s.bench));
            fields.push_back(text_field("received", s.received));
        }
        out.result(printable(line), fields);
    }
    if (shown == 0 && !out.json())
        say(stderr, "torvela-cli: %s\n",
            (listed.empty() ? (o.from_shop ? std::string("the shop holds no record that matches")
                                           : "no job is recorded in " + utf8_from_path(history.folder()) + " yet")
                                     : std::string("no recorded job matches"))
                .c_str());
    if (out.json()) out.end("success", "", "", success);
    return success;
}

}  // namespace cli
