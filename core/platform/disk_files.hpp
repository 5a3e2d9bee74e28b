// The few things the tool asks of the file system that the C++ library does
// not say the same way on every platform: paths from the UTF-8 text the
// window holds (wide calls on Windows), creating a file only when the name
// is free, pushing a file and its folder entry to the disk.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

namespace torvela {

// A path from UTF-8 text, and the UTF-8 text of a path.
std::filesystem::path path_from_utf8(std::string_view text);
std::string utf8_from_path(const std::filesystem::path& p);

// std::fopen for any file name (the wide call on Windows).
std::FILE* open_c_file(const std::filesystem::path& p, const char* mode);

// A file opened for writing, created or emptied; never through a link at
// `p` and never a device or a pipe (nullptr then).
std::FILE* open_new_output(const std::filesystem::path& p);

// True for a regular file (or a link to one). Devices, pipes and folders are
// never opened: reading them could block the window or never end.
bool is_plain_file(const std::filesystem::path& p);

// What a path chosen for a save stands for. Only a new name or a regular
// file the tool can both read and write may be replaced: a device, a pipe
// or a file the operator cannot read could hold what nobody can get back.
enum class save_target { new_file, replaceable, not_a_file, unreadable, read_only };
save_target check_save_target(const std::filesystem::path& p);
// The reason, for a message ("is not a regular file", ...); empty for the
// first two.
const char* save_target_problem(save_target t);

// A new empty file, held open for as long as this object lives: another
// process sees it held (is_unheld_leftover is false) and cannot remove it on
// Windows. Creation fails when the name is taken, so the file is ours.
enum class create_result { created, name_taken, failed };
class held_file {
public:
    held_file() = default;
    held_file(const held_file&) = delete;
    held_file& operator=(const held_file&) = delete;
    ~held_file() { release(); }
    create_result create(const std::filesystem::path& p);
    void release();
    // Windows renames no file that is held open: there the hold ends here.
    void release_before_rename() {
#ifdef _WIN32
        release();
#endif
    }
    // The platform's reason for the last failed create.
    const std::string& problem() const { return problem_; }

private:
    int fd_ = -1;
    std::string problem_;
};
// True for a file this user owns that no held_file of any process holds: a
// file a killed program left behind.
bool is_unheld_leftover(const std::filesystem::path& p);

// What a path is now, to tell whether it is still what was seen earlier:
// nothing, or one file with its size and times (a link is not followed).
struct file_identity {
    bool exists = false;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modified = 0, changed = 0;
    bool operator==(const file_identity&) const = default;
};
file_identity identify(const std::filesystem::path& p);

// Moves `from` to `to` only when nothing is at `to`, in one step where the
// file system can (a save racing another to the same new name never
// replaces the other's file). False with `taken` set when `to` exists.
bool rename_no_replace(const std::filesystem::path& from, const std::filesystem::path& to, bool& taken);
// Gives `p` the owner and group of `like` where the system allows it (a
// file replaced by root stays the user's); nothing on Windows.
void copy_owner(const std::filesystem::path& like, const std::filesystem::path& p);

// Writes what the system holds of the file to the disk.
bool flush_file_to_disk(const std::filesystem::path& p);
// Makes the entries of a folder (a rename in it) durable; nothing to do on
// Windows, where the rename is.
bool sync_folder(const std::filesystem::path& folder);

// A whole small file. `too_large` when it holds more than `max_bytes`.
enum class small_file { read, unreadable, too_large };
small_file read_small_file(const std::filesystem::path& p, std::size_t max_bytes, std::string& out);
// Creates or empties the file and writes `bytes`; false when not all of it
// reached the file.
bool write_small_file(const std::filesystem::path& p, std::string_view bytes);

// Twelve letters and digits nobody can guess, for names of our own.
std::string random_tag();

}  // namespace torvela
