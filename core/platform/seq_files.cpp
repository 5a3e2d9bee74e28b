#include "platform/seq_files.hpp"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/disk_files.hpp"

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#else
#include <stdlib.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace torvela {

namespace fs = std::filesystem;

std_seq_files::~std_seq_files() {
    close(1);
    close(2);
}

std_seq_files::slot* std_seq_files::get(int n) {
    return (n == 1 || n == 2) ? &slots_[n] : nullptr;
}

const std_seq_files::slot* std_seq_files::get(int n) const {
    return (n == 1 || n == 2) ? &slots_[n] : nullptr;
}

bool std_seq_files::open_input(int n, const std::string& path) {
    slot* s = get(n);
    if (!s || path.empty()) return false;
    close(n);
    const fs::path p = path_from_utf8(path);
    if (!is_plain_file(p)) return false;
    s->fp = open_c_file(p, "rb");
    s->output = false;
    s->lines = 0;
    s->failed = false;
    return s->fp != nullptr;
}

bool std_seq_files::open_output(int n, const std::string& path) {
    slot* s = get(n);
    if (!s || path.empty()) return false;
    close(n);
    s->fp = open_new_output(path_from_utf8(path));
    s->output = true;
    s->failed = false;
    return s->fp != nullptr;
}

bool std_seq_files::adopt(int n, std::FILE* fp, bool output) {
    slot* s = get(n);
    if (!s || !fp) {
        if (fp) std::fclose(fp);
        return false;
    }
    close(n);
    s->fp = fp;
    s->output = output;
    s->lines = 0;
    s->failed = false;
    return true;
}

bool std_seq_files::is_open(int n) const {
    const slot* s = get(n);
    return s && s->fp;
}

std::string std_seq_files::read_line(int n, std::size_t min_len) {
    std::string line;
    slot* s = get(n);
    if (!s || !s->fp || s->output) return line;
    ++s->lines;
    for (;;) {
        int c = std::fgetc(s->fp);
        if (c == EOF) break;
        if (c == '\n' && line.size() >= min_len) {
            // CR LF: the CR belongs to the ending unless it is one of the
            // first min_len bytes.
            if (line.size() > min_len && line.back() == '\r') line.pop_back();
            break;
        }
        line.push_back(static_cast<char>(c));
        if (line.size() >= max_line) break;
    }
    return line;
}

void std_seq_files::print_line(int n, const std::string& line) {
    slot* s = get(n);
    if (!s || !s->fp || !s->output) return;
    if (std::fwrite(line.data(), 1, line.size(), s->fp) != line.size() ||
        std::fwrite("\r\n", 1, 2, s->fp) != 2) {
        if (!s->failed) s->error = errno;
        s->failed = true;
    }
}

bool std_seq_files::eof(int n) {
    slot* s = get(n);
    if (!s || !s->fp) return true;
    if (s->output) return false;
    int c = std::fgetc(s->fp);
    if (c == EOF) return true;
    std::ungetc(c, s->fp);
    return false;
}

std::size_t std_seq_files::lines_read(int n) const {
    const slot* s = get(n);
    return s ? s->lines : 0;
}

bool std_seq_files::close(int n) {
    slot* s = get(n);
    if (!s || !s->fp) return true;
    bool ok = !s->failed;
    int error = s->error;
    if (s->output && std::fflush(s->fp) != 0) ok = false, error = error ? error : errno;
    if (std::fclose(s->fp) != 0) ok = false, error = error ? error : errno;
    s->fp = nullptr;
    s->failed = false;
    s->error = 0;
    // A failed close leaves the first write's reason in errno.
    if (!ok) errno = error;
    return ok;
}

namespace {

#ifdef _WIN32
// NAME.held opened for this program alone and deleted when its handle
// closes, also when the program is killed; -1 when it is taken already.
std::intptr_t hold(const fs::path& held) {
    const HANDLE h = ::CreateFileW(held.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                   FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<std::intptr_t>(h);
}

// Whether a program still works in the folder of `held`: its file is open
// (or on its way out). A missing one is a folder nobody holds.
bool held_by_a_program(const fs::path& held) {
    const HANDLE h = ::CreateFileW(held.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
        return false;
    }
    const DWORD err = ::GetLastError();
    return err != ERROR_FILE_NOT_FOUND && err != ERROR_PATH_NOT_FOUND;
}

// The folders a killed program of this user left in `base` (its own
// temporary folder, which no other user's program may write in).
void remove_folders_left_by_killed_tools(const fs::path& base) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(base, ec)) {
        const std::wstring n = e.path().filename().wstring();
        if (n.size() != 20 || n.rfind(L"torvela-", 0) != 0) continue;
        // A link or a junction is never followed into.
        const DWORD attributes = ::GetFileAttributesW(e.path().c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
            (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        const fs::path held = base / (n + L".held");
        if (held_by_a_program(held)) continue;
        std::error_code gone;
        fs::remove_all(e.path(), gone);
        fs::remove(held, gone);
    }
}
#else
// The folders a killed program of this user left in `base` (it could not
// remove its own): beside each live one, its program holds the lock of
// NAME.held; a free lock is a folder nobody works in.
void remove_folders_left_by_killed_tools(const fs::path& base) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(base, ec)) {
        const std::string n = e.path().filename().string();
        if (n.size() != 19 || n.rfind("torvela-", 0) != 0 || n.compare(14, 5, ".held") != 0) continue;
        const int fd = ::open(e.path().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat st {};
        const bool left = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() &&
                          ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        std::error_code gone;
        const fs::path folder = base / n.substr(0, 14);
        struct stat fst {};
        if (left && ::lstat(folder.c_str(), &fst) == 0 && S_ISDIR(fst.st_mode) && fst.st_uid == ::geteuid())
            fs::remove_all(folder, gone);
        if (left) ::unlink(e.path().c_str());
        ::close(fd);
    }
}
#endif

}  // namespace

private_work_folder::private_work_folder() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = ".";
    // Once a run: the folders of this user's tools killed outright.
    static const bool swept = (remove_folders_left_by_killed_tools(base), true);
    (void)swept;
#ifdef _WIN32
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = base / ("torvela-" + random_tag());
        // Held before the folder is made, so no sweep finds it free; made
        // only where the name is free, so nobody else's folder is taken
        // over (the user's own temporary folder keeps other users out).
        held_ = hold(fs::path(candidate.wstring() + L".held"));
        if (held_ == -1) continue;
        if (fs::create_directory(candidate, ec) && !ec) {
            path_ = utf8_from_path(candidate);
            return;
        }
        ::CloseHandle(reinterpret_cast<HANDLE>(held_));
        held_ = -1;
    }
#else
    // Made with mode 0700 in one step: no moment in which another user's
    // program could plant a file or a link in it. Its lock is taken under
    // another name and then named NAME.held, so no look finds it free.
    std::string name = (base / "torvela-XXXXXX").string();
    if (!::mkdtemp(name.data())) return;
    path_ = name;
    const std::string taking = name + ".taking";
    const int fd = ::open(taking.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0600);
    held_ = fd;
    if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::rename(taking.c_str(), (name + ".held").c_str()) == 0)
        return;
    if (fd >= 0) ::close(fd);
    ::unlink(taking.c_str());
    held_ = -1;
#endif
}

private_work_folder::~private_work_folder() {
    if (path_.empty()) return;
    std::error_code ec;
    fs::remove_all(path_from_utf8(path_), ec);
#ifdef _WIN32
    if (held_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(held_));
#else
    if (held_ >= 0) {
        ::unlink((path_ + ".held").c_str());
        ::close(static_cast<int>(held_));
    }
#endif
}

std::string private_work_folder::file(const std::string& name) const {
    if (path_.empty()) return {};
    return utf8_from_path(path_from_utf8(path_) / path_from_utf8(name));
}

}  // namespace torvela
