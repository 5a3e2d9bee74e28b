// The new memories file of a running SAVE MEMORIES TO FILE. The records go
// into a hidden file beside the chosen one; once the verify against the
// writer has passed, that file is pushed to the disk and renamed over the
// chosen file (the moment the memories are safe), and only then may the
// writer's memories blocks be erased.
//
// Names beside the chosen file NAME:
//   .NAME.save-XXXXXXXXXXXX.tmp  a save under way; one left by a killed save
//                                is removed by the next save to NAME
//   NAME-stem.verified-XXXXXXXXXXXX.ext
//                                a verified copy that could not replace NAME;
//                                never removed by the tool
#pragma once

#include <filesystem>
#include <string>

#include "platform/disk_files.hpp"

namespace torvela {

class pending_save {
public:
    // Starts a save to `chosen` (UTF-8). The chosen path is resolved as the
    // system opens it (a linked folder's "..", a chosen link followed to the
    // file it names; the link stays), what is there is noted, leftovers of
    // killed saves to that file are removed (never a hidden file another
    // save still holds, nor another user's), and the new file is created
    // and held. False, with problem(), when it cannot be created.
    bool begin(const std::string& chosen);
    bool active() const { return !file_.empty(); }
    // The new file, UTF-8, for the numbered files.
    std::string path() const;
    // Why begin or commit failed, for a message.
    const std::string& problem() const { return problem_; }

    // Puts the new file in the chosen file's place: flushed to the disk,
    // given the chosen file's permissions and owner, renamed over it, the
    // folder flushed. Only when the chosen file is still what begin found
    // (nothing, or the same file unchanged): a file written meanwhile (by
    // another save, say) is never replaced. On failure the new file is kept
    // as a visible verified copy (kept_copy()) and the chosen file is as it
    // was.
    bool commit();
    const std::string& kept_copy() const { return kept_; }

    // Makes the rename durable; a failure fails the commit. Replaceable so
    // that the failure can be tested.
    bool (*folder_sync)(const std::filesystem::path& folder) = sync_folder;

    // Removes the new file of a save that ended before its commit.
    void discard();

private:
    bool keep_verified_copy();

    std::filesystem::path file_, target_;
    std::string tag_, kept_, problem_;
    file_identity found_;
    held_file hold_;
};

}  // namespace torvela
