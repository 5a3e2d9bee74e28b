#include "platform/job_history.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/disk_files.hpp"
#include "platform/local_time.hpp"
#include "platform/sha256.hpp"

namespace torvela {

namespace fs = std::filesystem;

namespace {

// The members of a record, in the order a line has them.
struct member {
    const char* key;
    std::string job_record::*field;
};
constexpr member members[] = {
    {"id", &job_record::id},
    {"time", &job_record::time},
    {"program", &job_record::program},
    {"port", &job_record::port},
    {"device", &job_record::device},
    {"operation", &job_record::operation},
    {"file", &job_record::file},
    {"file_resolved", &job_record::file_resolved},
    {"file_sha256", &job_record::file_sha256},
    {"unit_sha256", &job_record::unit_sha256},
    {"cpu", &job_record::cpu},
    {"machine_version", &job_record::machine_version},
    {"write_counts", &job_record::write_counts},
    {"outcome", &job_record::outcome},
    {"status", &job_record::status},
    {"detail", &job_record::detail},
    {"kept", &job_record::kept},
    {"kept_sha256", &job_record::kept_sha256},
};
// The first member of every line: which history format it is.
constexpr const char* format_key = "torvela_history";

std::string text_of(const std::tm& tm, const char* format) {
    char b[64];
    return std::string(b, std::strftime(b, sizeof b, format, &tm));
}

// A name part from any text: letters, digits, '.', '-' and '_' only.
std::string name_part(const std::string& text) {
    std::string out;
    for (const char c : text) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '-' || c == '_';
        out += plain ? c : '_';
        if (out.size() == 40) break;
    }
    return out.find_first_not_of("_.") == std::string::npos ? "unit" : out;
}

std::string reason_of(int err) { return std::strerror(err); }

#ifndef _WIN32
bool write_whole(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}
#endif

}  // namespace

namespace {

std::string line_of(const job_record& r, bool well_formed) {
    std::string line = "{" + json_string(format_key) + ":1";
    for (const member& m : members)
        if (!(r.*m.field).empty())
            line += "," + json_string(m.key) + ":" +
                    json_string(well_formed ? well_formed_utf8(r.*m.field) : r.*m.field);
    return line + "}\n";
}

}  // namespace

std::string record_line(const job_record& r) { return line_of(r, false); }
std::string well_formed_record_line(const job_record& r) { return line_of(r, true); }

std::optional<job_record> record_from_line(std::string_view line) {
    const std::optional<flat_object> o = read_flat_object(line);
    if (!o) return std::nullopt;
    const auto format = o->find(format_key);
    if (format == o->end() || format->second != "1") return std::nullopt;
    job_record r;
    for (const member& m : members)
        if (const auto found = o->find(m.key); found != o->end()) r.*m.field = found->second;
    return r;
}

std::string local_time_stamp() {
    const std::time_t now = std::time(nullptr);
    const std::tm here = local_time(now);
    // The offset from UTC: the UTC fields read back as if they were local.
    std::tm utc = utc_time(now);
    utc.tm_isdst = here.tm_isdst;
    const long offset = static_cast<long>(std::difftime(now, std::mktime(&utc))) / 60;
    char zone[40];
    std::snprintf(zone, sizeof zone, "%c%02ld%02ld", offset < 0 ? '-' : '+', std::labs(offset) / 60,
                  std::labs(offset) % 60);
    return text_of(here, "%Y-%m-%dT%H:%M:%S") + zone;
}

fs::path job_history::user_folder() {
#ifdef _WIN32
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    if (!local || !*local) return {};
    return fs::path(local) / L"TORVELA";
#else
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return fs::path(data) / "torvela";
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') return {};
    return fs::path(home) / ".local" / "share" / "torvela";
#endif
}

job_history job_history::for_user() {
    job_history h(user_folder());
    const char* keep = std::getenv("TORVELA_KEEP");
    std::string setting = keep ? keep : "";
    for (char& c : setting) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    h.keep_units = setting != "off";
    if (!setting.empty() && setting != "on" && setting != "off")
        h.kept_setting_problem = "TORVELA_KEEP is \"" + std::string(keep) +
                                 "\", neither on nor off: set it to off to keep no units, or to on (or unset it) to "
                                 "keep them";
    h.clear_torn_copies();
    return h;
}

namespace {

// The folders from the root down to `p` that are missing, made 0700; the
// system's reason for the first that could not be made.
#ifdef _WIN32
unsigned long make_folders(const fs::path& p) {
    std::error_code ec;
    if (p.empty() || fs::exists(p, ec)) return 0;
    if (p.has_parent_path() && p.parent_path() != p)
        if (const unsigned long err = make_folders(p.parent_path())) return err;
    return CreateDirectoryW(p.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS ? 0 : GetLastError();
}
#else
int make_folders(const fs::path& p) {
    if (p.empty() || ::mkdir(p.c_str(), 0700) == 0 || errno == EEXIST) return 0;
    if (errno != ENOENT || !p.has_parent_path() || p.parent_path() == p) return errno;
    if (const int err = make_folders(p.parent_path())) return err;
    return ::mkdir(p.c_str(), 0700) == 0 || errno == EEXIST ? 0 : errno;
}
#endif

constexpr const char* torn_prefix = ".keep-";
constexpr const char* torn_suffix = ".tmp";

bool is_torn_copy_name(const std::string& name) {
    return name.rfind(torn_prefix, 0) == 0 && name.size() > 10 &&
           name.compare(name.size() - 4, 4, torn_suffix) == 0;
}

// A whole file opened as open_own_file opens it, from `from` to its end.
bool read_rest(std::FILE* in, long from, std::string& text) {
    text.clear();
    if (std::fseek(in, from, SEEK_SET) != 0) return false;
    char buffer[65536];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, in)) > 0;) text.append(buffer, n);
    return !std::ferror(in);
}

}  // namespace

bool job_history::open_folder(held_folder& out, bool make, bool& absent, std::string& why) const {
    absent = false;
    if (folder_.empty()) {
        why = "the system names no data folder for this user (set XDG_DATA_HOME or HOME)";
        return false;
    }
    const fs::path data = folder_.parent_path();
    if (make) {
#ifdef _WIN32
        if (const unsigned long err = make_folders(data)) {
            why = utf8_from_path(data) + " cannot be made: " + system_reason(err);
            return false;
        }
#else
        if (const int err = make_folders(data)) {
            why = utf8_from_path(data) + " cannot be made: " + reason_of(err);
            return false;
        }
#endif
    }
    held_folder parent;
    std::string problem;
    if (!parent.open(data, problem)) {
        std::error_code ec;
        absent = !make && !fs::exists(data, ec);
        why = "the data folder " + utf8_from_path(data) + ": " + problem;
        return false;
    }
    if (const std::string mine = parent.not_private(); !mine.empty()) {
        why = "the data folder " + utf8_from_path(data) + " is not this user's alone: " + mine;
        return false;
    }
    if (!out.open_inside(parent, folder_.filename(), make, absent, why)) return false;
    if (const std::string mine = out.not_private(); !mine.empty()) {
        why = utf8_from_path(folder_) + " is not this user's alone: " + mine;
        return false;
    }
    return true;
}

bool job_history::open_private(const char* name, held_folder& out, bool make, bool& absent, std::string& why) const {
    held_folder folder;
    if (!open_folder(folder, make, absent, why)) return false;
    if (!out.open_inside(folder, name, make, absent, why)) return false;
    if (const std::string mine = out.not_private(); !mine.empty()) {
        why = utf8_from_path(folder_ / name) + " is not this user's alone: " + mine;
        return false;
    }
    return true;
}

bool job_history::open_units(held_folder& out, bool make, bool& absent, std::string& why) const {
    return open_private("units", out, make, absent, why);
}

std::string new_record_id() { return random_text("0123456789abcdef", 32); }

bool job_history::append(const job_record& r, std::string& why) {
    held_folder folder;
    bool absent = false;
    if (!open_folder(folder, true, absent, why)) return false;
    const std::string line = record_line(r);
    const fs::path file = folder.path_of("history.jsonl");
#ifdef _WIN32
    // Appends at the end whoever else appends; renamed under its readers.
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = utf8_from_path(file) + " cannot be opened: " + system_reason(GetLastError());
        return false;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY))) {
        CloseHandle(h);
        why = utf8_from_path(file) + " is not a regular file (a link or a device)";
        return false;
    }
    // Appenders take turns: not every file system appends at the end for
    // each writer of its own (Wine's does not).
    OVERLAPPED turn{};
    turn.Offset = 0xFFFFFFFF;
    turn.OffsetHigh = 0x7FFFFFFF;
    LockFileEx(h, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &turn);
    // A line a crash cut short is ended first, so that it spoils no record
    // but itself.
    LARGE_INTEGER was{};
    char last = '\n';
    DWORD got = 0;
    if (GetFileSizeEx(h, &was) && was.QuadPart > 0) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(was.QuadPart - 1);
        at.OffsetHigh = static_cast<DWORD>((was.QuadPart - 1) >> 32);
        ReadFile(h, &last, 1, &got, &at);
    }
    const std::string whole = last == '\n' ? line : "\n" + line;
    // One write: appends of other processes never land inside the line.
    DWORD written = 0;
    const bool ok = WriteFile(h, whole.data(), static_cast<DWORD>(whole.size()), &written, nullptr) &&
                    written == whole.size();
    const bool synced = ok && FlushFileBuffers(h);
    const DWORD err = GetLastError();
    LARGE_INTEGER size{};
    GetFileSizeEx(h, &size);
    UnlockFileEx(h, 0, 1, 0, &turn);
    CloseHandle(h);
    if (!synced) {
        why = utf8_from_path(file) + " was not written whole: " + system_reason(err);
        return false;
    }
    if (static_cast<std::uintmax_t>(size.QuadPart) > rotate_bytes) {
        // One process rotates: the one that holds the lock file alone.
        const fs::path lock = folder.path_of("history.lock");
        HANDLE l = CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (l != INVALID_HANDLE_VALUE) {
            std::error_code ec;
            if (fs::file_size(file, ec) > rotate_bytes && !ec)
                MoveFileExW(file.c_str(), folder.path_of("history.1.jsonl").c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            CloseHandle(l);
        }
    }
    return true;
#else
    const int dir = static_cast<int>(folder.native());
    // Never through a link, and a pipe planted at the name never holds the
    // job: it is opened without waiting and refused.
    const int fd = ::openat(dir, "history.jsonl", O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = utf8_from_path(file) + (errno == ELOOP ? " is a link, not a file of its own"
                                                     : " cannot be opened: " + reason_of(errno));
        return false;
    }
    struct stat before {};
    file_identity id;
    if (::fstat(fd, &before) == 0) {
        id.exists = true;
        id.owner = before.st_uid;
        id.group = before.st_gid;
        id.mode = before.st_mode;
    }
    const std::string mine = id.exists ? not_private(id) : "it cannot be looked at";
    if (!S_ISREG(before.st_mode) || !mine.empty()) {
        ::close(fd);
        why = utf8_from_path(file) + (S_ISREG(before.st_mode) ? ": " + mine : " is not a regular file (a pipe or a device)");
        return false;
    }
    // Appenders take turns, as not every file system appends at the end
    // for each writer of its own (a network share may not).
    ::flock(fd, LOCK_EX);
    // A line a crash cut short is ended first, so that it spoils no record
    // but itself.
    char last = '\n';
    if (::fstat(fd, &before) == 0 && before.st_size > 0 && ::pread(fd, &last, 1, before.st_size - 1) != 1) last = '\n';
    const bool ok = write_whole(fd, last == '\n' ? line : "\n" + line) && ::fsync(fd) == 0;
    const int err = errno;
    struct stat st {};
    ::fstat(fd, &st);
    ::close(fd);
    if (!ok) {
        why = utf8_from_path(file) + " was not written whole: " + reason_of(err);
        return false;
    }
    if (static_cast<std::uintmax_t>(st.st_size) > rotate_bytes) {
        // One process rotates: the one that holds the lock; it looks at the
        // size again, as another may have rotated meanwhile.
        const int lock = ::openat(dir, "history.lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
        if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0) {
            struct stat now {};
            if (::fstatat(dir, "history.jsonl", &now, AT_SYMLINK_NOFOLLOW) == 0 &&
                static_cast<std::uintmax_t>(now.st_size) > rotate_bytes &&
                ::renameat(dir, "history.jsonl", dir, "history.1.jsonl") == 0)
                ::fsync(dir);
        }
        if (lock >= 0) ::close(lock);
    }
    return true;
#endif
}

job_history::listing job_history::read() const {
    listing out;
    held_folder folder;
    bool absent = false;
    // No data folder: never the current folder's files instead.
    if (folder_.empty()) {
        out.notes.push_back("the system names no data folder for this user (set XDG_DATA_HOME or HOME)");
        return out;
    }
    if (!open_folder(folder, false, absent, out.refused)) {
        if (absent) out.refused.clear();
        return out;
    }
    for (const char* name : {"history.1.jsonl", "history.jsonl"}) {
        const fs::path file = folder_ / name;
        std::FILE* in = folder.open_own_file(name, absent, out.refused);
        if (absent) continue;
        std::string text;
        const bool read = in && read_rest(in, 0, text);
        if (in) std::fclose(in);
        if (!read) {
            if (out.refused.empty()) out.refused = utf8_from_path(file) + " cannot be read";
            out.records.clear();
            out.notes.clear();
            return out;
        }
        std::size_t at = 0;
        for (int number = 1; at < text.size(); ++number) {
            std::size_t end = text.find('\n', at);
            const bool whole = end != std::string::npos;
            if (!whole) end = text.size();
            const std::string_view line(text.data() + at, end - at);
            at = end + 1;
            if (line.empty()) continue;
            const std::optional<job_record> r = whole ? record_from_line(line) : std::nullopt;
            if (r) {
                out.records.push_back(*r);
            } else {
                out.notes.push_back(utf8_from_path(file) + " line " + std::to_string(number) + " skipped: " +
                                    (whole ? "not a job record (damaged, or written by something else)"
                                           : "cut short (a job ending as this was read, or a crash)"));
            }
        }
    }
    return out;
}

job_history::listing job_history::last(std::size_t count) const {
    listing out;  // oldest first
    held_folder folder;
    bool absent = false;
    if (folder_.empty()) return out;
    if (!open_folder(folder, false, absent, out.refused)) {
        if (absent) out.refused.clear();
        return out;
    }
    for (const char* name : {"history.jsonl", "history.1.jsonl"}) {
        if (out.records.size() >= count) break;
        std::FILE* in = folder.open_own_file(name, absent, out.refused);
        if (absent) continue;
        if (!in || std::fseek(in, 0, SEEK_END) != 0) {
            if (in) std::fclose(in);
            out.records.clear();
            if (out.refused.empty()) out.refused = utf8_from_path(folder_ / name) + " cannot be read";
            return out;
        }
        const long size = std::ftell(in);
        std::vector<job_record> found;  // this file's, oldest first
        // A window on the file's end, widened until it holds enough records
        // or the whole file. Only whole lines count: the one the window
        // cuts into and one a job is still ending are left out.
        for (long window = 4096;; window *= 4) {
            const long from = size > window ? size - window : 0;
            std::string text;
            if (!read_rest(in, from, text)) break;
            found.clear();
            std::size_t at = from == 0 ? 0 : std::min(text.find('\n'), text.size() - 1) + 1;
            for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
                if (auto r = record_from_line(std::string_view(text).substr(at, end - at))) found.push_back(*r);
            if (out.records.size() + found.size() >= count || from == 0) break;
        }
        std::fclose(in);
        const std::size_t take = std::min(found.size(), count - out.records.size());
        out.records.insert(out.records.begin(), found.end() - static_cast<std::ptrdiff_t>(take), found.end());
    }
    return out;
}

job_history::kept_copy job_history::keep_unit(std::string_view bytes, const std::string& version, std::string& why) {
    if (!keep_units) {
        why = "TORVELA_KEEP=off";
        return {};
    }
    held_folder units;
    bool absent = false;
    if (!open_units(units, true, absent, why)) return {};
    // Written under a name nothing offers, pushed to the disk, then given
    // its name: a copy under its name is whole, whatever stops the save.
    const fs::path temp = path_from_utf8(torn_prefix + random_tag() + torn_suffix);
    held_file hold;
    if (hold.create(units, temp, 0600) != create_result::created) {
        why = utf8_from_path(units_folder() / temp) + " cannot be made: " + hold.problem();
        return {};
    }
    std::FILE* out = hold.stream(true);
    bool ok = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() && std::fflush(out) == 0;
    int err = errno;
    if (out) ok = std::fclose(out) == 0 && ok;
    if (ok && !hold.sync()) {
        ok = false;
        err = errno;
    }
    if (!ok) {
        // Half a unit is no copy of it.
        units.remove(temp);
        why = utf8_from_path(units_folder() / temp) + " could not be written whole: " + reason_of(err);
        return {};
    }
    hold.release_before_rename();
    const std::string stem = text_of(local_time(std::time(nullptr)), "%Y%m%d-%H%M%S") + "-" + name_part(version);
    for (int n = 1; n < 100; ++n) {
        const fs::path name = path_from_utf8(stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".dat");
        bool taken = false;
        std::string problem;
        if (!units.rename(temp, name, false, taken, problem)) {
            if (taken) continue;
            units.remove(temp);
            why = utf8_from_path(units_folder() / name) + " cannot be made: " + problem;
            return {};
        }
        // The name is durable, or the copy is not kept.
        if (!units.sync()) {
            err = errno;
            units.remove(name);
            why = utf8_from_path(units_folder()) + " could not be pushed to the disk: " + reason_of(err);
            return {};
        }
        return {utf8_from_path(units_folder() / name), sha256_hex(bytes)};
    }
    units.remove(temp);
    why = "too many units kept in " + utf8_from_path(units_folder()) + " this second";
    return {};
}

bool job_history::read_kept(const job_record& r, std::string& bytes, std::string& why) const {
    bytes.clear();
    why.clear();
    if (r.kept.empty()) {
        why = "its record names no kept copy";
        return false;
    }
    const fs::path kept = path_from_utf8(r.kept);
    if (kept.parent_path() != units_folder()) {
        why = "refused: it is not in this user's units folder " + utf8_from_path(units_folder());
        return false;
    }
    held_folder units;
    bool absent = false;
    std::string problem;
    if (!open_units(units, false, absent, problem)) {
        why = absent ? "missing" : "refused: " + problem;
        return false;
    }
    std::FILE* in = units.open_own_file(kept.filename(), absent, problem);
    if (!in) {
        why = absent ? "missing" : "refused: " + problem;
        return false;
    }
    const bool read = read_rest(in, 0, bytes);
    std::fclose(in);
    if (!read) why = "damaged: it cannot be read";
    else if (r.kept_sha256.empty()) why = "unchecked: its record holds no SHA-256 to check it by";
    else if (const std::string now = sha256_hex(bytes); now != r.kept_sha256)
        why = "damaged: its SHA-256 is " + now + ", its record's " + r.kept_sha256;
    if (why.empty()) return true;
    bytes.clear();
    return false;
}

std::string job_history::check_kept(const job_record& r) const {
    if (r.kept.empty()) return {};
    std::string bytes, why;
    return read_kept(r, bytes, why) ? std::string() : why;
}

std::string job_history::check_kept_file(const std::string& path, const std::string& sha256) const {
    std::error_code ec;
    const fs::path file = fs::weakly_canonical(path_from_utf8(path), ec);
    if (ec || folder_.empty() || !fs::equivalent(file.parent_path(), units_folder(), ec) || ec) return {};
    const listing all = read();
    for (auto r = all.records.rbegin(); r != all.records.rend(); ++r) {
        if (r->kept.empty() || path_from_utf8(r->kept).filename() != file.filename()) continue;
        if (r->kept_sha256.empty() || r->kept_sha256 == sha256) return {};
        return "its SHA-256 is " + sha256 + " where its record of " + r->time + " has " + r->kept_sha256 +
               ": it is damaged";
    }
    return {};
}

void job_history::clear_torn_copies() const {
    held_folder units;
    bool absent = false;
    std::string why;
    if (!open_units(units, false, absent, why)) return;
    for (const fs::path& name : units.names())
        if (is_torn_copy_name(utf8_from_path(name))) units.remove_unheld_leftover(name);
}

}  // namespace torvela
