#include "platform/disk_files.hpp"

#include <random>
#include <system_error>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
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

create_result create_new_file(const fs::path& p) {
#ifdef _WIN32
    const int fd = _wopen(p.c_str(), _O_CREAT | _O_EXCL | _O_WRONLY | _O_BINARY, _S_IREAD | _S_IWRITE);
    if (fd < 0) return errno == EEXIST ? create_result::name_taken : create_result::failed;
    _close(fd);
#else
    const int fd = ::open(p.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return errno == EEXIST ? create_result::name_taken : create_result::failed;
    ::close(fd);
#endif
    return create_result::created;
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
