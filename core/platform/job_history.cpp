#include "platform/job_history.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
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

namespace torvela {

namespace fs = std::filesystem;

namespace {

// The members of a record, in the order a line has them.
struct member {
    const char* key;
    std::string job_record::*field;
};
constexpr member members[] = {
    {"time", &job_record::time},
    {"program", &job_record::program},
    {"port", &job_record::port},
    {"device", &job_record::device},
    {"operation", &job_record::operation},
    {"file", &job_record::file},
    {"file_sha256", &job_record::file_sha256},
    {"cpu", &job_record::cpu},
    {"machine_version", &job_record::machine_version},
    {"write_counts", &job_record::write_counts},
    {"outcome", &job_record::outcome},
    {"status", &job_record::status},
    {"detail", &job_record::detail},
    {"kept", &job_record::kept},
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

void sync_folder(const fs::path& p) {
    const int fd = ::open(p.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}
#endif

}  // namespace

std::string record_line(const job_record& r) {
    std::string line = "{" + json_string(format_key) + ":1";
    for (const member& m : members)
        if (!(r.*m.field).empty()) line += "," + json_string(m.key) + ":" + json_string(r.*m.field);
    return line + "}\n";
}

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
    h.keep_units = !(keep && std::string_view(keep) == "off");
    return h;
}

bool job_history::make_private_folder(const fs::path& p, std::string& why) const {
    if (p.empty()) {
        why = "the system names no data folder for this user";
        return false;
    }
#ifdef _WIN32
    std::error_code ec;
    if (!fs::exists(p, ec)) {
        if (p.has_parent_path() && p.parent_path() != p && !make_private_folder(p.parent_path(), why)) return false;
        if (!CreateDirectoryW(p.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            why = utf8_from_path(p) + " cannot be made: " + system_reason(GetLastError());
            return false;
        }
    }
    const DWORD attributes = GetFileAttributesW(p.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        why = utf8_from_path(p) + " is not a folder of its own (a file or a link stands there)";
        return false;
    }
    return true;
#else
    if (::mkdir(p.c_str(), 0700) != 0 && errno == ENOENT && p.has_parent_path() && p.parent_path() != p) {
        if (!make_private_folder(p.parent_path(), why)) return false;
        ::mkdir(p.c_str(), 0700);
    }
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) {
        why = utf8_from_path(p) + " cannot be made: " + reason_of(errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        why = utf8_from_path(p) + " is not a folder of this user's (a file, a link or another user's folder)";
        return false;
    }
    return true;
#endif
}

bool job_history::append(const job_record& r, std::string& why) {
    if (!make_private_folder(folder_, why)) return false;
    const std::string line = record_line(r);
    const fs::path file = folder_ / "history.jsonl";
#ifdef _WIN32
    // Appends at the end whoever else appends; renamed under its readers.
    HANDLE h = CreateFileW(file.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = utf8_from_path(file) + " cannot be opened: " + system_reason(GetLastError());
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
        const fs::path lock = folder_ / "history.lock";
        HANDLE l = CreateFileW(lock.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (l != INVALID_HANDLE_VALUE) {
            std::error_code ec;
            if (fs::file_size(file, ec) > rotate_bytes && !ec)
                MoveFileExW(file.c_str(), (folder_ / "history.1.jsonl").c_str(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
            CloseHandle(l);
        }
    }
    return true;
#else
    const int fd = ::open(file.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        why = utf8_from_path(file) + " cannot be opened: " + reason_of(errno);
        return false;
    }
    // Appenders take turns, as not every file system appends at the end
    // for each writer of its own (a network share may not).
    ::flock(fd, LOCK_EX);
    // A line a crash cut short is ended first, so that it spoils no record
    // but itself.
    struct stat before {};
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
        const int lock = ::open((folder_ / "history.lock").c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (lock >= 0 && ::flock(lock, LOCK_EX | LOCK_NB) == 0) {
            struct stat now {};
            if (::lstat(file.c_str(), &now) == 0 && static_cast<std::uintmax_t>(now.st_size) > rotate_bytes &&
                ::rename(file.c_str(), (folder_ / "history.1.jsonl").c_str()) == 0)
                sync_folder(folder_);
        }
        if (lock >= 0) ::close(lock);
    }
    return true;
#endif
}

job_history::listing job_history::read() const {
    listing out;
    // No data folder: never the current folder's files instead.
    if (folder_.empty()) {
        out.notes.push_back("the system names no data folder for this user (set XDG_DATA_HOME or HOME)");
        return out;
    }
    for (const char* name : {"history.1.jsonl", "history.jsonl"}) {
        const fs::path file = folder_ / name;
        std::ifstream in(file, std::ios::binary);
        if (!in) continue;
        const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

std::vector<job_record> job_history::last(std::size_t count) const {
    std::vector<job_record> out;  // oldest first
    if (folder_.empty()) return out;
    for (const char* name : {"history.jsonl", "history.1.jsonl"}) {
        std::ifstream in(folder_ / name, std::ios::binary | std::ios::ate);
        if (!in || out.size() >= count) continue;
        const std::streamoff size = in.tellg();
        std::vector<job_record> found;  // this file's, oldest first
        // A window on the file's end, widened until it holds enough records
        // or the whole file. Only whole lines count: the one the window
        // cuts into and one a job is still ending are left out.
        for (std::streamoff window = 4096;; window *= 4) {
            const std::streamoff from = size > window ? size - window : 0;
            std::string text(static_cast<std::size_t>(size - from), '\0');
            in.clear();
            in.seekg(from);
            if (!in.read(text.data(), static_cast<std::streamsize>(text.size()))) break;
            found.clear();
            std::size_t at = from == 0 ? 0 : std::min(text.find('\n'), text.size() - 1) + 1;
            for (std::size_t end; (end = text.find('\n', at)) != std::string::npos; at = end + 1)
                if (auto r = record_from_line(std::string_view(text).substr(at, end - at))) found.push_back(*r);
            if (out.size() + found.size() >= count || from == 0) break;
        }
        const std::size_t take = std::min(found.size(), count - out.size());
        out.insert(out.begin(), found.end() - static_cast<std::ptrdiff_t>(take), found.end());
    }
    return out;
}

std::string job_history::keep_unit(std::string_view bytes, const std::string& version, std::string& why) {
    if (!keep_units) {
        why = "TORVELA_KEEP=off";
        return {};
    }
    const fs::path units = units_folder();
    if (!make_private_folder(folder_, why) || !make_private_folder(units, why)) return {};
    const std::string stem = text_of(local_time(std::time(nullptr)), "%Y%m%d-%H%M%S") + "-" + name_part(version);
    for (int n = 1; n < 100; ++n) {
        const fs::path p = units / path_from_utf8(stem + (n == 1 ? "" : "-" + std::to_string(n)) + ".dat");
#ifdef _WIN32
        const int fd = _wopen(p.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
#else
        const int fd = ::open(p.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_NOFOLLOW | O_CLOEXEC, 0600);
#endif
        if (fd < 0 && errno == EEXIST) continue;
        if (fd < 0) {
            why = utf8_from_path(p) + " cannot be made: " + reason_of(errno);
            return {};
        }
#ifdef _WIN32
        bool ok = true;
        for (std::size_t at = 0; ok && at < bytes.size();) {
            const int n_written = _write(fd, bytes.data() + at, static_cast<unsigned>(std::min<std::size_t>(bytes.size() - at, 1 << 20)));
            ok = n_written > 0;
            if (ok) at += static_cast<std::size_t>(n_written);
        }
        ok = ok && _commit(fd) == 0;
        const int err = errno;
        ok = _close(fd) == 0 && ok;
#else
        bool ok = write_whole(fd, bytes) && ::fsync(fd) == 0;
        const int err = errno;
        ok = ::close(fd) == 0 && ok;
#endif
        if (!ok) {
            // Half a unit is no copy of it.
            std::error_code ec;
            fs::remove(p, ec);
            why = utf8_from_path(p) + " could not be written whole: " + reason_of(err);
            return {};
        }
#ifndef _WIN32
        sync_folder(units);
#endif
        return utf8_from_path(p);
    }
    why = "too many units kept in " + utf8_from_path(units) + " this second";
    return {};
}

}  // namespace torvela
