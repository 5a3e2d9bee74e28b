#include "platform/disk_files.hpp"

#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <share.h>
#else
#include <dirent.h>
#include <grp.h>
#include <pwd.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace torvela {

namespace fs = std::filesystem;

fs::path path_from_utf8(std::string_view text) {
    return fs::path(std::u8string(reinterpret_cast<const char8_t*>(text.data()), text.size()));
}

std::string utf8_from_path(const fs::path& p) {
    const std::u8string u = p.u8string();
    return std::string(reinterpret_cast<const char*>(u.data()), u.size());
}

std::FILE* open_c_file(const fs::path& p, const char* mode) {
#ifdef _WIN32
    std::wstring wmode;
    for (const char* m = mode; *m; ++m) wmode.push_back(static_cast<wchar_t>(*m));
    return _wfopen(p.c_str(), wmode.c_str());
#else
    return std::fopen(p.c_str(), mode);
#endif
}

std::FILE* open_new_output(const fs::path& p) {
#ifdef _WIN32
    return open_c_file(p, "wb");
#else
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) return nullptr;
    struct stat st {};
    std::FILE* fp = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) ? ::fdopen(fd, "wb") : nullptr;
    if (!fp) ::close(fd);
    return fp;
#endif
}

bool is_plain_file(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

save_target check_save_target(const fs::path& p) {
    std::error_code ec;
    const fs::file_status st = fs::status(p, ec);
    if (st.type() == fs::file_type::not_found) return save_target::new_file;
    if (st.type() != fs::file_type::regular) return save_target::not_a_file;
    // The owner's bits count even for a user the system lets past them.
    const fs::perms bits = st.permissions();
    std::FILE* in = (bits & fs::perms::owner_read) == fs::perms::none ? nullptr : open_c_file(p, "rb");
    if (!in) return save_target::unreadable;
    std::fclose(in);
    // Opened for update, not truncated: the file is not changed.
    std::FILE* out = (bits & fs::perms::owner_write) == fs::perms::none ? nullptr : open_c_file(p, "r+b");
    if (!out) return save_target::read_only;
    std::fclose(out);
    return save_target::replaceable;
}

const char* save_target_problem(save_target t) {
    switch (t) {
    case save_target::not_a_file:
        return "is not a regular file";
    case save_target::unreadable:
        return "cannot be read";
    case save_target::read_only:
        return "is read-only";
    case save_target::new_file:
    case save_target::replaceable:
        break;
    }
    return "";
}

#ifdef _WIN32
std::string system_reason(unsigned long err) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, err, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string out;
    if (n > 0 && text) out = utf8_from_path(fs::path(std::wstring(text, n)));
    if (text) ::LocalFree(text);
    // The system's own full stop goes: ours follows.
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "error " + std::to_string(err) : out;
}
#endif

namespace {

#ifndef _WIN32
file_identity identity_of(const struct stat& st) {
    file_identity id;
    id.exists = true;
    id.type = S_ISREG(st.st_mode)   ? file_identity::kind::file
              : S_ISLNK(st.st_mode) ? file_identity::kind::link
              : S_ISDIR(st.st_mode) ? file_identity::kind::folder
                                    : file_identity::kind::other;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.size = static_cast<std::uint64_t>(st.st_size);
    id.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    id.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
    id.mode = static_cast<std::uint32_t>(st.st_mode);
    id.owner = static_cast<std::uint32_t>(st.st_uid);
    id.group = static_cast<std::uint32_t>(st.st_gid);
    return id;
}

int folder_fd(std::intptr_t handle) { return static_cast<int>(handle); }
#endif

// Moves `from` to `to` only when nothing is at `to`, in one step where the
// file system can (a save racing another to the same new name never
// replaces the other's file). POSIX names are taken in the folder `dir`.
bool rename_no_replace(int dir, const fs::path& from, const fs::path& to, bool& taken) {
    taken = false;
#ifdef _WIN32
    (void)dir;
    // The C library's rename never replaces a file.
    if (_wrename(from.c_str(), to.c_str()) == 0) return true;
    std::error_code ec;
    taken = fs::exists(to, ec);
    return false;
#else
#ifdef RENAME_NOREPLACE
    if (::renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) {
        taken = true;
        return false;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
    // A file system without the call: a second name for the file, which
    // fails when the name is taken, then the first name goes.
    if (::linkat(dir, from.c_str(), dir, to.c_str(), 0) == 0) {
        ::unlinkat(dir, from.c_str(), 0);
        return true;
    }
    if (errno == EEXIST) {
        taken = true;
        return false;
    }
    // No links either (FAT on a memory stick): look, then rename.
    struct stat st {};
    if (::fstatat(dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        taken = true;
        return false;
    }
    return ::renameat(dir, from.c_str(), dir, to.c_str()) == 0;
#endif
}

}  // namespace

create_result held_file::create(const fs::path& p) {
    release();
    problem_.clear();
#ifdef _WIN32
    // The C library never lets another process delete a file it holds open.
    fd_ = _wopen(p.c_str(), _O_CREAT | _O_EXCL | _O_RDWR | _O_BINARY | _O_NOINHERIT, _S_IREAD | _S_IWRITE);
#else
    fd_ = ::open(p.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0666);
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        problem_ = std::strerror(errno);
        ::close(fd_);
        ::unlink(p.c_str());
        fd_ = -1;
        return create_result::failed;
    }
#endif
    if (fd_ >= 0) return create_result::created;
    problem_ = std::strerror(errno);
    return errno == EEXIST ? create_result::name_taken : create_result::failed;
}

create_result held_file::create(const held_folder& folder, const fs::path& name, unsigned mode) {
#ifdef _WIN32
    (void)mode;
    return create(folder.below(name));
#else
    release();
    problem_.clear();
    const int dir = folder_fd(folder.handle_);
    fd_ = ::openat(dir, name.c_str(), O_CREAT | O_EXCL | O_RDWR | O_NOFOLLOW | O_CLOEXEC, static_cast<mode_t>(mode));
    if (fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
        problem_ = std::strerror(errno);
        ::close(fd_);
        ::unlinkat(dir, name.c_str(), 0);
        fd_ = -1;
        return create_result::failed;
    }
    if (fd_ >= 0) return create_result::created;
    problem_ = std::strerror(errno);
    return errno == EEXIST ? create_result::name_taken : create_result::failed;
#endif
}

std::FILE* held_file::stream(bool output) {
    if (fd_ < 0) return nullptr;
#ifdef _WIN32
    const int fd = _dup(fd_);
    if (fd < 0) return nullptr;
    if (_lseeki64(fd, 0, SEEK_SET) != 0 || (output && _chsize_s(fd, 0) != 0)) {
        _close(fd);
        return nullptr;
    }
    std::FILE* fp = _fdopen(fd, output ? "wb" : "rb");
    if (!fp) _close(fd);
#else
    // A second descriptor shares the position with the held one, which
    // never reads or writes itself.
    const int fd = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    if (::lseek(fd, 0, SEEK_SET) != 0 || (output && ::ftruncate(fd, 0) != 0)) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* fp = ::fdopen(fd, output ? "wb" : "rb");
    if (!fp) ::close(fd);
#endif
    return fp;
}

bool held_file::sync() {
    if (fd_ < 0) return false;
#ifdef _WIN32
    return _commit(fd_) == 0;
#else
    return ::fsync(fd_) == 0;
#endif
}

file_identity held_file::identity() const {
    file_identity id;
    if (fd_ < 0) return id;
#ifdef _WIN32
    struct _stat64 st {};
    if (_fstat64(fd_, &st) != 0) return id;
    id.exists = true;
    id.type = file_identity::kind::file;
    id.size = static_cast<std::uint64_t>(st.st_size);
    id.modified = st.st_mtime;
    return id;
#else
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? identity_of(st) : id;
#endif
}

bool held_file::take_mode_and_owner(const file_identity& like) {
    if (fd_ < 0) return false;
#ifdef _WIN32
    (void)like;
    return true;
#else
    if (::fchmod(fd_, static_cast<mode_t>(like.mode & 07777)) != 0) return false;
    if (::fchown(fd_, like.owner, like.group) != 0 && ::fchown(fd_, static_cast<uid_t>(-1), like.group) != 0) {
        // Not allowed: the file stays this user's.
    }
    return true;
#endif
}

void held_file::release() {
    if (fd_ < 0) return;
#ifdef _WIN32
    _close(fd_);
#else
    ::close(fd_);
#endif
    fd_ = -1;
}

bool is_unheld_leftover(const fs::path& p) {
#ifdef _WIN32
    // Opened with nobody else sharing it: fails while any process has it.
    const int fd = _wsopen(p.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW);
    if (fd < 0) return false;
    _close(fd);
    return true;
#else
    const int fd = ::open(p.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st {};
    const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
    const bool free = ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
#endif
}

file_identity identify(const fs::path& p) {
    file_identity id;
#ifdef _WIN32
    struct _stat64 st {};
    if (_wstat64(p.c_str(), &st) != 0) return id;
    id.exists = true;
    id.type = (st.st_mode & _S_IFDIR) ? file_identity::kind::folder
              : (st.st_mode & _S_IFREG) ? file_identity::kind::file
                                        : file_identity::kind::other;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.size = static_cast<std::uint64_t>(st.st_size);
    id.modified = st.st_mtime;
    id.changed = st.st_ctime;
    id.mode = static_cast<std::uint32_t>(st.st_mode);
    return id;
#else
    struct stat st {};
    return ::lstat(p.c_str(), &st) == 0 ? identity_of(st) : id;
#endif
}

// ---- held_folder ------------------------------------------------------------

#ifndef _WIN32
namespace {

std::string user_name(std::uint32_t uid) {
    const passwd* pw = ::getpwuid(uid);
    return pw ? std::string(pw->pw_name) : "user " + std::to_string(uid);
}

}  // namespace

// Opens `path` below the folder `start` one name at a time, each name
// looked at before it is entered. A link on the way is followed as the
// kernel's guard for shared sticky folders follows it, whatever that
// guard's setting on this system: only when this user or the folder's
// owner made it. `shown` is where `start` stands, for the messages.
int held_folder::walk_folders(int start, const fs::path& path, const fs::path& shown, int& links, std::string& why) {
    int at = start == AT_FDCWD ? ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC) : ::dup(start);
    if (path.is_absolute()) {
        if (at >= 0) ::close(at);
        at = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (at < 0) {
        why = std::string("its folder cannot be opened (") + std::strerror(errno) + ")";
        return -1;
    }
    fs::path here = shown;
    for (const fs::path& part : path.relative_path()) {
        const std::string name = part.native();
        if (name.empty() || name == ".") continue;
        struct stat st {};
        if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            const int err = errno;
            ::close(at);
            why = err == ENOENT ? "its folder does not exist (" + utf8_from_path(here / part) + " is missing)"
                                : "its folder cannot be opened (" + utf8_from_path(here / part) + ": " +
                                      std::strerror(err) + ")";
            return -1;
        }
        int next = -1;
        if (S_ISLNK(st.st_mode)) {
            struct stat folder {};
            if (::fstat(at, &folder) != 0 || !system_follows_link(identity_of(folder), identity_of(st))) {
                why = utf8_from_path(here / part) + " is a link " + user_name(st.st_uid) + " made in " +
                      utf8_from_path(here.empty() ? fs::path(".") : here) + ", a folder everyone may write to (" +
                      user_name(folder.st_uid) + "'s): such a link is followed only for its owner or the "
                      "folder's, and the save does not follow it";
                ::close(at);
                return -1;
            }
            if (++links > 40) {
                why = "its folder is reached through too many links";
                ::close(at);
                return -1;
            }
            std::string target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 4096) + 1, '\0');
            const ssize_t n = ::readlinkat(at, name.c_str(), target.data(), target.size());
            if (n < 0 || static_cast<std::size_t>(n) >= target.size()) {
                why = "the link " + utf8_from_path(here / part) + " cannot be read";
                ::close(at);
                return -1;
            }
            target.resize(static_cast<std::size_t>(n));
            const fs::path to(target);
            next = walk_folders(at, to, to.is_absolute() ? fs::path("/") : here, links, why);
            if (next < 0) {
                ::close(at);
                return -1;
            }
        } else {
            // Never through a link that took the name's place since.
            next = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (next < 0) {
                const int err = errno;
                ::close(at);
                why = err == ENOTDIR ? "its folder is not a folder (" + utf8_from_path(here / part) + " is none)"
                      : err == ELOOP ? utf8_from_path(here / part) + " was replaced by a link while it was opened"
                                     : "its folder cannot be opened (" + utf8_from_path(here / part) + ": " +
                                           std::strerror(err) + ")";
                return -1;
            }
        }
        ::close(at);
        at = next;
        here /= part;
    }
    return at;
}
#endif

bool held_folder::open(const fs::path& folder, std::string& why, const held_folder* from) {
    close();
    const fs::path wanted = folder.empty() ? fs::path(".") : folder;
    path_ = from && wanted.is_relative() ? from->where() / wanted : wanted;
#ifdef _WIN32
    // Nobody may rename or remove the folder while it is held: its path
    // leads to it until the hold ends.
    const HANDLE h = ::CreateFileW(path_.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD err = ::GetLastError();
        why = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND ? "its folder does not exist"
              : err == ERROR_SHARING_VIOLATION ? "its folder is being moved or removed by another program"
                                               : "its folder cannot be opened (" + system_reason(err) + ")";
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
#else
    const int base = from && wanted.is_relative() ? folder_fd(from->handle_) : AT_FDCWD;
    int links = 0;
    const int fd = walk_folders(base, wanted, wanted.is_absolute() ? fs::path("/") : fs::path(), links, why);
    if (fd < 0) return false;
    handle_ = fd;
#endif
    return true;
}

bool held_folder::open_inside(const held_folder& parent, const fs::path& name, bool make, bool& absent,
                              std::string& why) {
    close();
    absent = false;
    path_ = parent.below(name);
    const std::string named = utf8_from_path(path_);
#ifdef _WIN32
    if (make && !::CreateDirectoryW(path_.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        why = named + " cannot be made: " + system_reason(::GetLastError());
        return false;
    }
    const DWORD attributes = ::GetFileAttributesW(path_.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = ::GetLastError();
        absent = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
        why = named + (absent ? " does not exist" : " cannot be opened: " + system_reason(err));
        return false;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        why = named + " is not a folder of its own (a file or a link stands there)";
        return false;
    }
    const HANDLE h = ::CreateFileW(path_.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = named + " cannot be opened: " + system_reason(::GetLastError());
        return false;
    }
    handle_ = reinterpret_cast<std::intptr_t>(h);
    return true;
#else
    const int dir = folder_fd(parent.handle_);
    int made = 0;
    if (make && ::mkdirat(dir, name.c_str(), 0700) != 0 && errno != EEXIST) made = errno;
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // The reason the folder could not be made, where that is why it
        // cannot be opened.
        const int err = made != 0 && errno == ENOENT ? made : errno;
        absent = err == ENOENT;
        struct stat st {};
        const bool link = ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
        why = named + (link              ? " is a link, not a folder of its own"
                       : err == ENOTDIR  ? " is not a folder (a file stands there)"
                       : absent          ? " does not exist"
                       : made != 0       ? " cannot be made: " + std::string(std::strerror(err))
                                         : " cannot be opened: " + std::string(std::strerror(err)));
        return false;
    }
    handle_ = fd;
    return true;
#endif
}

std::string not_private(const file_identity& id) {
#ifdef _WIN32
    (void)id;
    return {};
#else
    if (id.owner != ::geteuid()) {
        const passwd* pw = ::getpwuid(id.owner);
        return "it belongs to another user (" + (pw ? std::string(pw->pw_name) : std::to_string(id.owner)) + ")";
    }
    // A group of the user's own (a user private group) is no one else.
    auto own_group = [&] {
        const group* gr = ::getgrgid(id.group);
        const passwd* pw = ::getpwuid(::geteuid());
        return gr && pw && id.group == pw->pw_gid && (!gr->gr_mem || !gr->gr_mem[0]) &&
               std::strcmp(gr->gr_name, pw->pw_name) == 0;
    };
    if ((id.mode & S_IWOTH) || ((id.mode & S_IWGRP) && !own_group())) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", id.mode & 07777);
        return std::string("others may write to it (mode ") + mode + ")";
    }
    return {};
#endif
}

std::string held_folder::not_private() const {
    const file_identity id = self();
    if (!id.exists || id.type != file_identity::kind::folder) return "it is not a folder";
    return torvela::not_private(id);
}

std::FILE* held_folder::open_own_file(const fs::path& name, bool& absent, std::string& why) const {
    absent = false;
    const std::string named = utf8_from_path(below(name));
#ifdef _WIN32
    const DWORD attributes = ::GetFileAttributesW(below(name).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = ::GetLastError();
        absent = err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
        if (!absent) why = named + " cannot be opened: " + system_reason(err);
        return nullptr;
    }
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
        why = named + " is not a regular file (a folder, a link or a device)";
        return nullptr;
    }
    const HANDLE h = ::CreateFileW(below(name).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        why = named + " cannot be opened: " + system_reason(::GetLastError());
        return nullptr;
    }
    if (::GetFileType(h) != FILE_TYPE_DISK) {
        ::CloseHandle(h);
        why = named + " is not a regular file";
        return nullptr;
    }
    const int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        ::CloseHandle(h);
        why = named + " cannot be opened";
        return nullptr;
    }
    std::FILE* fp = _fdopen(fd, "rb");
    if (!fp) {
        _close(fd);
        why = named + " cannot be opened";
    }
    return fp;
#else
    const int dir = folder_fd(handle_);
    // Looked at before it is opened: a pipe or a device is never opened.
    struct stat seen {};
    if (::fstatat(dir, name.c_str(), &seen, AT_SYMLINK_NOFOLLOW) != 0) {
        absent = errno == ENOENT;
        if (!absent) why = named + " cannot be opened: " + std::strerror(errno);
        return nullptr;
    }
    if (S_ISLNK(seen.st_mode)) {
        why = named + " is a link, not a file of its own";
        return nullptr;
    }
    if (!S_ISREG(seen.st_mode)) {
        why = named + " is not a regular file (a pipe, a device or a folder)";
        return nullptr;
    }
    if (const std::string mine = torvela::not_private(identity_of(seen)); !mine.empty()) {
        why = named + ": " + mine;
        return nullptr;
    }
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0 || st.st_dev != seen.st_dev || st.st_ino != seen.st_ino) {
        if (fd >= 0) ::close(fd);
        why = named + " changed while it was opened";
        return nullptr;
    }
    std::FILE* fp = ::fdopen(fd, "rb");
    if (!fp) {
        ::close(fd);
        why = named + " cannot be opened: " + std::strerror(errno);
    }
    return fp;
#endif
}

bool held_folder::remove(const fs::path& name) const {
#ifdef _WIN32
    std::error_code ec;
    return fs::remove(below(name), ec) && !ec;
#else
    return ::unlinkat(folder_fd(handle_), name.c_str(), 0) == 0;
#endif
}

void held_folder::close() {
    if (handle_ == -1) return;
#ifdef _WIN32
    ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
#else
    ::close(folder_fd(handle_));
#endif
    handle_ = -1;
}

fs::path held_folder::where() const {
#ifdef _WIN32
    wchar_t buf[32768];
    const DWORD n = ::GetFinalPathNameByHandleW(reinterpret_cast<HANDLE>(handle_), buf, 32768, FILE_NAME_NORMALIZED);
    if (n == 0 || n >= 32768) return path_;
    std::wstring text(buf, n);
    if (text.rfind(L"\\\\?\\UNC\\", 0) == 0) return fs::path(L"\\\\" + text.substr(8));
    if (text.rfind(L"\\\\?\\", 0) == 0) return fs::path(text.substr(4));
    return fs::path(text);
#else
    char buf[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(folder_fd(handle_));
    const ssize_t n = ::readlink(link.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf || buf[0] != '/') return path_;
    return fs::path(std::string(buf, static_cast<std::size_t>(n)));
#endif
}

file_identity held_folder::self() const {
    file_identity id;
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(reinterpret_cast<HANDLE>(handle_), &info)) return id;
    id.exists = true;
    id.type = file_identity::kind::folder;
    id.device = info.dwVolumeSerialNumber;
    id.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return id;
#else
    struct stat st {};
    return ::fstat(folder_fd(handle_), &st) == 0 ? identity_of(st) : id;
#endif
}

file_identity held_folder::identify(const fs::path& name) const {
#ifdef _WIN32
    return torvela::identify(below(name));
#else
    struct stat st {};
    if (::fstatat(folder_fd(handle_), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return {};
    return identity_of(st);
#endif
}

fs::path held_folder::read_link(const fs::path& name) const {
#ifdef _WIN32
    std::error_code ec;
    return fs::read_symlink(below(name), ec);
#else
    char buf[4096];
    const ssize_t n = ::readlinkat(folder_fd(handle_), name.c_str(), buf, sizeof buf);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof buf) return {};
    return fs::path(std::string(buf, static_cast<std::size_t>(n)));
#endif
}

bool held_folder::takes_new_files(std::string& why) const {
#ifdef _WIN32
    (void)why;
    return true;
#else
    if (::faccessat(folder_fd(handle_), ".", W_OK | X_OK, AT_EACCESS) == 0) return true;
    why = std::strerror(errno);
    return false;
#endif
}

save_target held_folder::save_target_of(const fs::path& name) const {
#ifdef _WIN32
    return check_save_target(below(name));
#else
    const file_identity id = identify(name);
    if (!id.exists) return save_target::new_file;
    if (id.type != file_identity::kind::file) return save_target::not_a_file;
    // The owner's bits count even for a user the system lets past them.
    const int dir = folder_fd(handle_);
    const auto can_open = [&](mode_t owner_bit, int how) {
        if ((id.mode & owner_bit) == 0) return false;
        const int fd = ::openat(dir, name.c_str(), how | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return false;
        ::close(fd);
        return true;
    };
    if (!can_open(S_IRUSR, O_RDONLY)) return save_target::unreadable;
    // Opened for writing, not truncated: the file is not changed.
    if (!can_open(S_IWUSR, O_WRONLY)) return save_target::read_only;
    return save_target::replaceable;
#endif
}

bool held_folder::rename(const fs::path& from, const fs::path& to, bool replace, bool& taken,
                         std::string& why) const {
    taken = false;
#ifdef _WIN32
    std::error_code ec;
    if (!replace) {
        if (rename_no_replace(-1, below(from), below(to), taken)) return true;
        why = taken ? "its name was taken" : "it cannot be renamed";
        return false;
    }
    fs::rename(below(from), below(to), ec);
    if (ec) why = system_reason(static_cast<unsigned long>(ec.value()));
    return !ec;
#else
    const int dir = folder_fd(handle_);
    if (!replace) {
        if (rename_no_replace(dir, from, to, taken)) return true;
        why = taken ? "its name was taken" : std::strerror(errno);
        return false;
    }
    if (::renameat(dir, from.c_str(), dir, to.c_str()) == 0) return true;
    why = std::strerror(errno);
    return false;
#endif
}

std::vector<fs::path> held_folder::names() const {
    std::vector<fs::path> found;
#ifdef _WIN32
    std::error_code ec;
    for (fs::directory_iterator it(path_, ec), end; !ec && it != end; it.increment(ec))
        found.push_back(it->path().filename());
#else
    const int fd = ::fcntl(folder_fd(handle_), F_DUPFD_CLOEXEC, 0);
    DIR* d = fd < 0 ? nullptr : ::fdopendir(fd);
    if (!d) {
        if (fd >= 0) ::close(fd);
        return found;
    }
    ::rewinddir(d);
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") found.emplace_back(name);
    }
    ::closedir(d);
#endif
    return found;
}

void held_folder::remove_unheld_leftover(const fs::path& name) const {
#ifdef _WIN32
    std::error_code ec;
    if (is_unheld_leftover(below(name))) fs::remove(below(name), ec);
#else
    const int dir = folder_fd(handle_);
    const int fd = ::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    struct stat st {};
    const bool ours = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid();
    // Held while it goes: the name is removed only while it still names
    // the file looked at.
    if (ours && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && identify(name).same_entry(identity_of(st)))
        ::unlinkat(dir, name.c_str(), 0);
    ::close(fd);
#endif
}

bool held_folder::sync() const {
#ifdef _WIN32
    // A rename is on the disk when it returns.
    return true;
#else
    return ::fsync(folder_fd(handle_)) == 0;
#endif
}

bool sync_held_folder(const held_folder& folder) { return folder.sync(); }

bool system_follows_link(const file_identity& folder, const file_identity& link) {
#ifdef _WIN32
    (void)folder;
    (void)link;
    return true;
#else
    const bool shared_sticky = (folder.mode & S_ISVTX) != 0 && (folder.mode & S_IWOTH) != 0;
    return !shared_sticky || link.owner == ::geteuid() || link.owner == folder.owner;
#endif
}

small_file read_small_file(const fs::path& p, std::size_t max_bytes, std::string& out) {
    out.clear();
    if (!is_plain_file(p)) return small_file::unreadable;
    std::FILE* fp = open_c_file(p, "rb");
    if (!fp) return small_file::unreadable;
    char buf[4096];
    small_file result = small_file::read;
    for (;;) {
        const std::size_t n = std::fread(buf, 1, sizeof buf, fp);
        if (n == 0) break;
        if (out.size() + n > max_bytes) {
            result = small_file::too_large;
            break;
        }
        out.append(buf, n);
    }
    if (std::ferror(fp)) result = small_file::unreadable;
    std::fclose(fp);
    return result;
}

bool write_small_file(const fs::path& p, std::string_view bytes) {
    std::FILE* fp = open_c_file(p, "wb");
    if (!fp) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), fp) == bytes.size();
    return std::fclose(fp) == 0 && written;
}

std::string random_text(std::string_view digits, int length) {
    std::random_device rd;
    std::uniform_int_distribution<std::size_t> pick(0, digits.size() - 1);
    std::string tag;
    for (int i = 0; i < length; ++i) tag.push_back(digits[pick(rd)]);
    return tag;
}

std::string random_tag() { return random_text("abcdefghijklmnopqrstuvwxyz0123456789", 12); }

bool write_new_in(const held_folder& folder, const std::filesystem::path& temp, const std::filesystem::path& name,
                  std::string_view bytes, unsigned mode, std::string& why) {
    held_file hold;
    if (hold.create(folder, temp, mode) != create_result::created) {
        why = utf8_from_path(folder.path_of(temp)) + " cannot be made: " + hold.problem();
        return false;
    }
    std::FILE* out = hold.stream(true);
    bool ok = out && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() && std::fflush(out) == 0;
    if (out) ok = std::fclose(out) == 0 && ok;
    ok = ok && hold.sync();
    if (!ok) {
        folder.remove(temp);
        why = utf8_from_path(folder.path_of(name)) + " could not be written whole: nothing was left";
        return false;
    }
    hold.release_before_rename();
    bool taken = false;
    std::string problem;
    if (!folder.rename(temp, name, false, taken, problem)) {
        folder.remove(temp);
        why = utf8_from_path(folder.path_of(name)) +
              (taken ? " was made by something else meanwhile: it was left as it is" : " cannot be made: " + problem);
        return false;
    }
    // The name is durable, or the file is not there.
    if (!folder.sync()) {
        folder.remove(name);
        why = utf8_from_path(folder.where()) + " could not be pushed to the disk";
        return false;
    }
    return true;
}

bool write_new_file(const std::filesystem::path& p, std::string_view bytes, std::string& why) {
    const std::filesystem::path folder_path = p.has_parent_path() ? p.parent_path() : std::filesystem::path(".");
    held_folder folder;
    std::string problem;
    if (!folder.open(folder_path, problem)) {
        why = utf8_from_path(folder_path) + ": " + problem;
        return false;
    }
    const std::filesystem::path temp = path_from_utf8("." + utf8_from_path(p.filename()) + "." + random_tag() + ".tmp");
    return write_new_in(folder, temp, p.filename(), bytes, 0666, why);
}

}  // namespace torvela
