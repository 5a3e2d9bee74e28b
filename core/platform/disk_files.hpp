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
#include <utility>
#include <vector>

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

// What a path is now, to tell whether it is still what was seen earlier:
// nothing, or one entry with its kind, owner, mode, size and times (a link
// is not followed).
struct file_identity {
    enum class kind { none, file, link, folder, other };
    bool exists = false;
    kind type = kind::none;
    std::uint64_t device = 0, inode = 0, size = 0;
    std::int64_t modified = 0, changed = 0;
    std::uint32_t mode = 0, owner = 0, group = 0;
    bool operator==(const file_identity&) const = default;
    // The same entry of the file system (whatever happened to it since).
    bool same_entry(const file_identity& o) const {
        return exists && o.exists && device == o.device && inode == o.inode;
    }
};
file_identity identify(const std::filesystem::path& p);

// A folder held open: the names in it are looked up in the folder that was
// opened, wherever it has been moved since, never through its path again.
// POSIX: a descriptor and the *at calls. Windows: a handle that lets nobody
// rename or remove the folder while it is held, and the path it was opened
// by.
class held_folder {
public:
    held_folder() = default;
    held_folder(const held_folder&) = delete;
    held_folder& operator=(const held_folder&) = delete;
    ~held_folder() { close(); }
    void swap(held_folder& other) noexcept {
        std::swap(handle_, other.handle_);
        path_.swap(other.path_);
    }
    // Opens `folder` for this user, a name at a time: a link on the way is
    // followed only where the kernel's guard for shared sticky folders
    // would follow it (by its owner, or in a folder of the link's owner),
    // whatever that guard's setting here. A relative `folder` is taken in
    // `from` when given. False with the reason.
    bool open(const std::filesystem::path& folder, std::string& why, const held_folder* from = nullptr);
    // Opens the folder `name` in `parent`, never through a link at that
    // name; made (0700) first when `make` and missing. `absent` when it is
    // not there and not made.
    bool open_inside(const held_folder& parent, const std::filesystem::path& name, bool make, bool& absent,
                     std::string& why);
    void close();
    bool is_open() const { return handle_ != -1; }
    // Where the system says the held folder is now; the path it was opened
    // by where the system cannot tell.
    std::filesystem::path where() const;
    // The folder itself.
    file_identity self() const;
    // What `name` in the folder is now (a link is not followed).
    file_identity identify(const std::filesystem::path& name) const;
    // The text of the link `name`; empty when it is none.
    std::filesystem::path read_link(const std::filesystem::path& name) const;
    // Whether this user may make files in the folder (false with the
    // reason). Windows cannot tell without making one: true there.
    bool takes_new_files(std::string& why) const;
    // What a save may do with the regular file or new name `name`.
    save_target save_target_of(const std::filesystem::path& name) const;
    // Moves `from` to `to` inside the folder: replacing what is at `to`, or
    // only when nothing is there (false with `taken` set when something is).
    bool rename(const std::filesystem::path& from, const std::filesystem::path& to, bool replace, bool& taken,
                std::string& why) const;
    // Every name in the folder.
    std::vector<std::filesystem::path> names() const;
    // Removes `name` when it is a file this user owns that no held_file of
    // any process holds: a file a killed program left behind.
    void remove_unheld_leftover(const std::filesystem::path& name) const;
    // Makes the folder's entries (a rename in it) durable.
    bool sync() const;
    // Why the held folder is not this user's alone (another user's, or
    // others may write to it); empty when it is.
    std::string not_private() const;
    // The file `name` for reading, when it is a regular file of this
    // user's that no one else may write, opened without following a link
    // and without blocking (a pipe or a device is refused before it is
    // opened). nullptr with `why`, or with `absent` when nothing is there.
    std::FILE* open_own_file(const std::filesystem::path& name, bool& absent, std::string& why) const;
    // The folder's own handle (POSIX: a descriptor for the *at calls).
    std::intptr_t native() const { return handle_; }
    // `name` in the folder as a path (for the calls that take one).
    std::filesystem::path path_of(const std::filesystem::path& name) const { return below(name); }
    // Removes the file `name` from the folder.
    bool remove(const std::filesystem::path& name) const;

private:
    friend class held_file;
    std::filesystem::path below(const std::filesystem::path& name) const { return path_ / name; }
#ifndef _WIN32
    static int walk_folders(int start, const std::filesystem::path& path, const std::filesystem::path& shown,
                            int& links, std::string& why);
#endif
    std::intptr_t handle_ = -1;
    std::filesystem::path path_;
};
bool sync_held_folder(const held_folder& folder);
// Whether the system follows, for this user, the link `link` found in
// `folder`: in a sticky folder everyone may write to, only a link of this
// user's or of the folder's owner (the guard against links planted in
// shared folders); elsewhere always.
bool system_follows_link(const file_identity& folder, const file_identity& link);

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
    // The same, named in a held folder.
    create_result create(const held_folder& folder, const std::filesystem::path& name, unsigned mode = 0666);
    bool held() const { return fd_ >= 0; }
    // A C stream on the held file from its start: for writing (the file
    // emptied first) or for reading. Closing the stream keeps the hold.
    std::FILE* stream(bool output);
    // Pushes what the system holds of the file to the disk.
    bool sync();
    // The held file now.
    file_identity identity() const;
    // Gives the file the mode of `like`, and its owner and group where the
    // system allows it (a file replaced by root stays the user's).
    bool take_mode_and_owner(const file_identity& like);
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
// Why a file or folder with this identity is not this user's alone
// (another user's, or others may write to it: the group counts only where
// it is the user's own private group); empty when it is.
std::string not_private(const file_identity& id);

// True for a file this user owns that no held_file of any process holds: a
// file a killed program left behind.
bool is_unheld_leftover(const std::filesystem::path& p);
// A whole small file. `too_large` when it holds more than `max_bytes`.
enum class small_file { read, unreadable, too_large };
small_file read_small_file(const std::filesystem::path& p, std::size_t max_bytes, std::string& out);
// Creates or empties the file and writes `bytes`; false when not all of it
// reached the file.
bool write_small_file(const std::filesystem::path& p, std::string_view bytes);

#ifdef _WIN32
// The system's text for an error code, UTF-8, without its own full stop.
std::string system_reason(unsigned long err);
#endif

// Twelve letters and digits nobody can guess, for names of our own.
std::string random_tag();
// `length` characters, each one of `digits` from the system's random source.
std::string random_text(std::string_view digits, int length);

// `bytes` as the new file `name` in `folder`, whole or not at all: written
// as `temp` (mode `mode`), synced, given its name only when nothing has
// taken it, the folder synced. False with the reason, nothing left.
bool write_new_in(const held_folder& folder, const std::filesystem::path& temp, const std::filesystem::path& name,
                  std::string_view bytes, unsigned mode, std::string& why);

// `bytes` as the new file `p`, whole or not at all: written under a
// temporary name in its folder, synced, then given its name only when
// nothing has taken it. False with the reason (nothing left behind).
bool write_new_file(const std::filesystem::path& p, std::string_view bytes, std::string& why);

}  // namespace torvela
