// The new memories file of a running SAVE MEMORIES TO FILE. The records go
// into a hidden file beside the chosen one; once the verify against the
// writer has passed, that file is pushed to the disk and renamed over the
// chosen file (the moment the memories are safe), and only then may the
// writer's memories blocks be erased.
//
// The folder is opened once, when the save begins, and held: the hidden
// file, its records, its verify, the look at the chosen file, the rename and
// the folder's flush all act on that folder, never on its path again. At
// the commit the chosen path must still lead to it; if it does not (the
// folder was moved aside or replaced meanwhile), nothing is replaced and
// the verified file stays in the held folder, wherever it is now.
//
// Names beside the chosen file NAME:
//   .NAME.save-XXXXXXXXXXXX.tmp  a save under way; one left by a killed save
//                                is removed by the next save to NAME
//   NAME-stem.verified-XXXXXXXXXXXX.ext
//                                a verified copy that could not replace NAME;
//                                never removed by the tool
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/disk_files.hpp"

namespace torvela {

class pending_save {
public:
    // Starts a save to `chosen` (UTF-8): its folder is opened as the system
    // opens it; a link at the chosen name is followed to the file it names
    // (the link stays) only where the system would follow it for this user
    // (never a link another user made in a shared sticky folder); what is
    // there must be a new name or a file this user may read and write; what
    // is there is noted, leftovers of killed saves to that file are removed
    // (never a hidden file another save still holds, nor another user's),
    // and the new file is created and held. False, with problem(), when the
    // save cannot begin.
    bool begin(const std::string& chosen);
    // The checks of begin, nothing made or removed: whether a save to
    // `chosen` could begin now. False with problem().
    bool check(const std::string& chosen);
    bool active() const { return !hidden_.empty(); }
    // The new file for writing (emptied) or for reading, from its start.
    std::FILE* open_new_file(bool output) { return hold_.stream(output); }
    // Why begin or commit failed, for a message.
    const std::string& problem() const { return problem_; }

    // Puts the new file in the chosen file's place: flushed to the disk,
    // given the chosen file's permissions and owner, renamed over it, the
    // folder flushed. Only when the chosen path still leads to the folder
    // the save began in and the chosen file is still what begin found
    // (nothing, or the same file unchanged): a file written meanwhile (by
    // another save, say) is never replaced. On failure the new file is kept
    // as a visible verified copy (kept_copy()) and the chosen file is as it
    // was. `verified` is what the new file holds: where the system gives
    // files no identity to compare (Windows), the file in place is read
    // back against it.
    bool commit(std::string_view verified = {});
    const std::string& kept_copy() const { return kept_; }
    // Whether the last commit put the new file in the chosen file's place.
    bool committed() const { return committed_; }
    // Whether begin found a file at the chosen name (else the save makes it).
    bool chosen_was_there() const { return found_.exists; }
    // The file the memories went into, when that is not the chosen path
    // itself (the chosen name is a link to it); empty otherwise.
    const std::string& written_elsewhere() const { return elsewhere_; }
    // The file the save writes, where the system says its folder is now.
    std::string written() const { return in_folder(name_); }

    // Makes the rename durable; a failure fails the commit. Replaceable so
    // that the failure can be tested.
    bool (*folder_sync)(const held_folder& folder) = sync_held_folder;

    // Removes the new file of a save that ended before its commit.
    void discard();

private:
    // The folder the chosen name stands in and the name of the file in it,
    // links at the name followed as begin says. False with problem_.
    bool find_place(held_folder& folder, std::filesystem::path& name, bool& through_link);
    // begin's look at the chosen path: the folder held, what is there fit
    // to be replaced.
    bool find_target(const std::string& chosen, bool& through_link);
    bool still_leads_here();
    bool keep_verified_copy();
    std::string in_folder(const std::filesystem::path& name) const;

    std::string chosen_, tag_, kept_, problem_, elsewhere_;
    held_folder folder_;
    std::filesystem::path name_, hidden_;
    file_identity found_;
    held_file hold_;
    bool committed_ = false;
};

}  // namespace torvela
