#include "platform/pending_save.hpp"

#include "platform/disk_files.hpp"

namespace torvela {

namespace fs = std::filesystem;

namespace {

constexpr const char* save_infix = ".save-";
constexpr const char* save_suffix = ".tmp";

bool starts_with(const std::string& s, const std::string& head) { return s.rfind(head, 0) == 0; }
bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

bool names_no_file(const fs::path& name) { return name.empty() || name == "." || name == ".."; }

}  // namespace

std::string pending_save::in_folder(const fs::path& name) const { return utf8_from_path(folder_.where() / name); }

bool pending_save::find_place(held_folder& folder, fs::path& name, bool& through_link) {
    through_link = false;
    const fs::path chosen = path_from_utf8(chosen_);
    name = chosen.filename();
    if (names_no_file(name)) {
        problem_ = "it names a folder, not a file";
        return false;
    }
    if (!folder.open(chosen.parent_path(), problem_)) return false;
    for (int depth = 0; depth < 40; ++depth) {
        const file_identity at = folder.identify(name);
        if (at.type != file_identity::kind::link) return true;
        const std::string link = utf8_from_path(name);
        if (!system_follows_link(folder.self(), at)) {
            problem_ = link + " in " + utf8_from_path(folder.where()) +
                       " is a link another user made in a folder everyone may write to; the system follows "
                       "such a link only for its owner, and so does the save";
            return false;
        }
        const fs::path to = folder.read_link(name);
        if (names_no_file(to.filename())) {
            problem_ = "the link " + link + " leads to no file";
            return false;
        }
        held_folder next;
        std::string why;
        if (!next.open(to.parent_path(), why, &folder)) {
            problem_ = "the link " + link + " points to " + utf8_from_path(to) + ", and " + why;
            return false;
        }
        folder.swap(next);
        name = to.filename();
        through_link = true;
    }
    problem_ = "it is a chain of too many links";
    return false;
}

bool pending_save::find_target(const std::string& chosen, bool& through_link) {
    discard();
    folder_.close();
    kept_.clear();
    problem_.clear();
    elsewhere_.clear();
    chosen_ = chosen;
    committed_ = false;
    through_link = false;
    if (!find_place(folder_, name_, through_link)) return false;
    if (through_link) elsewhere_ = in_folder(name_);
    const save_target target = folder_.save_target_of(name_);
    if (target != save_target::new_file && target != save_target::replaceable) {
        problem_ = (through_link ? elsewhere_ + ", where the link leads," : std::string("it")) + " " +
                   save_target_problem(target) + ": it is not replaced";
        folder_.close();
        return false;
    }
    return true;
}

bool pending_save::check(const std::string& chosen) {
    bool through_link = false;
    if (!find_target(chosen, through_link)) return false;
    std::string why;
    const bool takes = folder_.takes_new_files(why);
    if (!takes)
        problem_ = (through_link ? "the folder of " + elsewhere_ : std::string("its folder")) + " takes no new file (" +
                   why + ")";
    folder_.close();
    return takes;
}

bool pending_save::begin(const std::string& chosen) {
    bool through_link = false;
    if (!find_target(chosen, through_link)) return false;
    found_ = folder_.identify(name_);
    const std::string head = "." + utf8_from_path(name_) + save_infix;
    for (const fs::path& n : folder_.names()) {
        const std::string text = utf8_from_path(n);
        if (starts_with(text, head) && ends_with(text, save_suffix)) folder_.remove_unheld_leftover(n);
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        tag_ = random_tag();
        const fs::path candidate = path_from_utf8(head + tag_ + save_suffix);
        switch (hold_.create(folder_, candidate)) {
        case create_result::created:
            hidden_ = candidate;
            return true;
        case create_result::name_taken:
            continue;
        case create_result::failed:
            problem_ = (through_link ? "the folder of " + elsewhere_ : std::string("its folder")) +
                       " takes no new file (" + hold_.problem() + ")";
            folder_.close();
            return false;
        }
    }
    problem_ = "no free name for the new file";
    folder_.close();
    return false;
}

// True when the chosen path, looked up as begin did, still leads to the
// held folder and the same name in it.
bool pending_save::still_leads_here() {
    held_folder now;
    fs::path name;
    bool through_link = false;
    const std::string kept_problem = problem_;
    const bool found = find_place(now, name, through_link);
    problem_ = kept_problem;
    return found && name == name_ && now.self().same_entry(folder_.self());
}

namespace {

// Whether the regular file at `p` holds exactly `bytes` (anything else
// there, a pipe included, is not opened).
bool holds_exactly(const fs::path& p, std::string_view bytes) {
    std::string got;
    return read_small_file(p, bytes.size(), got) == small_file::read && got == bytes;
}

}  // namespace

bool pending_save::commit(std::string_view verified) {
    if (!active()) return false;
    problem_.clear();
    const std::string name = utf8_from_path(name_);
    const std::string moved =
        chosen_ + " no longer leads to the folder the save began in (it was moved or replaced while the save ran)";
    if (!hold_.sync()) problem_ = "the new file could not be written to the disk";
    if (problem_.empty() && !still_leads_here()) problem_ = moved;
    const file_identity now = folder_.identify(name_);
    if (problem_.empty() && !(now == found_)) problem_ = name + " was written by someone else while the save ran";
    if (problem_.empty() && now.exists && !hold_.take_mode_and_owner(now))
        problem_ = "the new file cannot take the permissions of the old one";
    const file_identity mine = hold_.identity();
    // Windows renames no file that is held open; elsewhere it stays held
    // until it has its new name.
    hold_.release_before_rename();
    if (problem_.empty()) {
        bool taken = false;
        std::string why;
        // Replaces the checked file in one step; a new name is taken only
        // while it is still free.
        if (!folder_.rename(hidden_, name_, now.exists, taken, why))
            problem_ = taken ? name + " was made by someone else while the save ran"
                             : "it cannot be replaced (" + why + ")";
    }
    if (!problem_.empty()) return keep_verified_copy();
    hold_.release();
    hidden_.clear();
    const std::string written = in_folder(name_);
    // Until the folder is on the disk, a power cut may bring the old file
    // back: the writer must not be erased yet. The memories are in the
    // chosen file, which is what the operator is told.
    if (!folder_sync(folder_)) {
        problem_ = "its folder could not be written to the disk";
        kept_ = written;
        return false;
    }
    // Last, what the chosen path leads to now must be the file just put
    // there: moved or replaced since the look, the memories are in the
    // held folder, not where the chosen path leads.
    const bool mine_there = mine.inode != 0 ? folder_.identify(name_).same_entry(mine)
                                            : verified.empty() || holds_exactly(folder_.path_of(name_), verified);
    if (!mine_there || !still_leads_here()) {
        problem_ = mine_there ? moved : name + " in " + utf8_from_path(folder_.where()) +
                                            " was replaced by someone else right after the save put it there";
        // Replaced, the verified file is gone from it: only the writer
        // holds the memories then.
        if (mine_there) kept_ = written;
        folder_.close();
        return false;
    }
    folder_.close();
    committed_ = true;
    return true;
}

// The writer still holds the memories, and so does this verified copy:
// give it a name the operator sees and no later save removes, in the held
// folder wherever it is now.
bool pending_save::keep_verified_copy() {
    const fs::path kept =
        path_from_utf8(utf8_from_path(name_.stem()) + ".verified-" + tag_ + utf8_from_path(name_.extension()));
    bool taken = false;
    std::string why;
    kept_ = in_folder(folder_.rename(hidden_, kept, false, taken, why) ? kept : hidden_);
    hold_.release();
    hidden_.clear();
    folder_.close();
    return false;
}

void pending_save::discard() {
    hold_.release();
    if (!active()) return;
    folder_.remove_unheld_leftover(hidden_);
    hidden_.clear();
    folder_.close();
}

}  // namespace torvela
