#include "platform/pending_save.hpp"

#include <system_error>

#include "platform/disk_files.hpp"

namespace torvela {

namespace fs = std::filesystem;

namespace {

constexpr const char* save_infix = ".save-";
constexpr const char* save_suffix = ".tmp";

// The file a chosen path stands for, as the system would open it: its
// folder with every link and ".." resolved by the file system (a linked
// folder's ".." is that folder's real parent), and a chosen link followed
// to the file it names, also one that does not exist yet. Empty when the
// folder is not there.
fs::path resolve(fs::path p) {
    std::error_code ec;
    for (int depth = 0; depth < 40; ++depth) {
        const fs::path folder = fs::canonical(p.parent_path().empty() ? fs::path(".") : p.parent_path(), ec);
        if (ec) return {};
        p = folder / p.filename();
        if (!fs::is_symlink(p, ec)) return p;
        const fs::path to = fs::read_symlink(p, ec);
        if (ec) return {};
        p = to.is_absolute() ? to : folder / to;
    }
    return {};
}

bool starts_with(const std::string& s, const std::string& head) { return s.rfind(head, 0) == 0; }
bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Files killed saves to `target` left behind: this user's, held by nobody.
void remove_leftovers(const fs::path& target) {
    const std::string head = "." + utf8_from_path(target.filename()) + save_infix;
    std::error_code ec;
    for (fs::directory_iterator it(target.parent_path(), ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = utf8_from_path(it->path().filename());
        if (starts_with(name, head) && ends_with(name, save_suffix) && is_unheld_leftover(it->path()))
            fs::remove(it->path(), ec);
    }
}

}  // namespace

bool pending_save::begin(const std::string& chosen) {
    discard();
    kept_.clear();
    problem_.clear();
    target_ = resolve(path_from_utf8(chosen));
    if (target_.empty()) {
        problem_ = "its folder does not exist";
        return false;
    }
    found_ = identify(target_);
    remove_leftovers(target_);
    const std::string name = utf8_from_path(target_.filename());
    for (int attempt = 0; attempt < 100; ++attempt) {
        tag_ = random_tag();
        const fs::path candidate = target_.parent_path() / path_from_utf8("." + name + save_infix + tag_ + save_suffix);
        switch (hold_.create(candidate)) {
        case create_result::created:
            file_ = candidate;
            return true;
        case create_result::name_taken:
            continue;
        case create_result::failed:
            problem_ = "its folder takes no new file (" + hold_.problem() + ")";
            return false;
        }
    }
    problem_ = "no free name for the new file";
    return false;
}

std::string pending_save::path() const { return utf8_from_path(file_); }

bool pending_save::commit() {
    if (!active()) return false;
    problem_.clear();
    std::error_code ec;
    if (!flush_file_to_disk(file_)) problem_ = "the new file could not be written to the disk";
    const file_identity now = identify(target_);
    if (problem_.empty() && !(now == found_))
        problem_ = utf8_from_path(target_.filename()) + " was written by someone else while the save ran";
    if (problem_.empty() && now.exists) {
        fs::permissions(file_, fs::status(target_, ec).permissions(), fs::perm_options::replace, ec);
        if (ec) problem_ = "the new file cannot take the permissions of the old one";
        copy_owner(target_, file_);
    }
    // Windows renames no file that is held open; elsewhere it stays held
    // until it has its new name.
    hold_.release_before_rename();
    if (problem_.empty()) {
        bool taken = false;
        // Replaces the checked file on every platform in one step; a new
        // name is taken only while it is still free.
        if (now.exists)
            fs::rename(file_, target_, ec);
        else if (!rename_no_replace(file_, target_, taken))
            ec = std::make_error_code(taken ? std::errc::file_exists : std::errc::io_error);
        if (ec)
            problem_ = taken ? utf8_from_path(target_.filename()) + " was made by someone else while the save ran"
                             : "it cannot be replaced (" + ec.message() + ")";
    }
    if (!problem_.empty()) return keep_verified_copy();
    hold_.release();
    file_.clear();
    // Until the folder is on the disk, a power cut may bring the old file
    // back: the writer must not be erased yet. The memories are in the
    // chosen file, which is what the operator is told.
    if (!folder_sync(target_.parent_path())) {
        problem_ = "its folder could not be written to the disk";
        kept_ = utf8_from_path(target_);
        return false;
    }
    return true;
}

// The writer still holds the memories, and so does this verified copy:
// give it a name the operator sees and no later save removes.
bool pending_save::keep_verified_copy() {
    std::error_code ec;
    const fs::path kept = target_.parent_path() /
                          path_from_utf8(utf8_from_path(target_.stem()) + ".verified-" + tag_ +
                                         utf8_from_path(target_.extension()));
    bool taken = false;
    kept_ = utf8_from_path(rename_no_replace(file_, kept, taken) ? kept : file_);
    hold_.release();
    file_.clear();
    return false;
}

void pending_save::discard() {
    hold_.release();
    if (!active()) return;
    std::error_code ec;
    fs::remove(file_, ec);
    file_.clear();
}

}  // namespace torvela
