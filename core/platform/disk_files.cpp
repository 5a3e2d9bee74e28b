#include "platform/disk_files.hpp"

#include <cerrno>
#include <cstring>
#include <random>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <share.h>
#else
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
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.modified = st.st_mtime;
    id.changed = st.st_ctime;
#else
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return id;
    id.device = static_cast<std::uint64_t>(st.st_dev);
    id.inode = static_cast<std::uint64_t>(st.st_ino);
    id.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    id.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1'000'000'000 + st.st_ctim.tv_nsec;
#endif
    id.exists = true;
    id.size = static_cast<std::uint64_t>(st.st_size);
    return id;
}

bool rename_no_replace(const fs::path& from, const fs::path& to, bool& taken) {
    taken = false;
#ifdef _WIN32
    // The C library's rename never replaces a file.
    if (_wrename(from.c_str(), to.c_str()) == 0) return true;
    taken = fs::exists(to);
    return false;
#else
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno == EEXIST) {
        taken = true;
        return false;
    }
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
#endif
    // A file system without the call: a second name for the file, which
    // fails when the name is taken, then the first name goes.
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno == EEXIST) {
        taken = true;
        return false;
    }
    // No links either (FAT on a memory stick): look, then rename.
    struct stat st {};
    if (::lstat(to.c_str(), &st) == 0) {
        taken = true;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
#endif
}

void copy_owner(const fs::path& like, const fs::path& p) {
#ifdef _WIN32
    (void)like;
    (void)p;
#else
    struct stat st {};
    if (::stat(like.c_str(), &st) != 0) return;
    if (::chown(p.c_str(), st.st_uid, st.st_gid) != 0 && ::chown(p.c_str(), static_cast<uid_t>(-1), st.st_gid) != 0) {
        // Not allowed: the file stays this user's.
    }
#endif
}

bool flush_file_to_disk(const fs::path& p) {
    std::FILE* fp = open_c_file(p, "r+b");
    if (!fp) return false;
    bool ok = std::fflush(fp) == 0;
#ifdef _WIN32
    ok = ok && _commit(_fileno(fp)) == 0;
#else
    ok = ok && ::fsync(fileno(fp)) == 0;
#endif
    return std::fclose(fp) == 0 && ok;
}

bool sync_folder(const fs::path& folder) {
#ifdef _WIN32
    (void)folder;
    return true;
#else
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
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

std::string random_tag() {
    static const char digits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device rd;
    std::uniform_int_distribution<int> pick(0, 35);
    std::string tag;
    for (int i = 0; i < 12; ++i) tag.push_back(digits[pick(rd)]);
    return tag;
}

}  // namespace torvela
