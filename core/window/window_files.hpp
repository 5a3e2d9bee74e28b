// The files a window offers the operator: where its file dialogs open,
// and the trace it saves.
#pragma once

#include <string>
#include <vector>

namespace torvela {

// The folder a file dialog opens first: the first of `candidates` (the
// documents folder, then home or the profile) that is a folder.
std::string first_folder(const std::vector<std::string>& candidates);
// Where the window's file dialogs open: the first folder of the
// candidates, then, once the operator chose a file, that file's folder for
// the rest of the run.
class dialog_folder {
public:
    explicit dialog_folder(const std::vector<std::string>& candidates) : folder_(first_folder(candidates)) {}
    // Empty when no candidate was a folder: the dialog's own choice.
    const std::string& path() const { return folder_; }
    void chose(const std::string& file);

private:
    std::string folder_;
};
inline constexpr const char* trace_file_name = "torvela-trace.txt";
// A trace that did not reach its file says so: the engineer keeps it for a reason.
std::string trace_not_saved(const std::string& path);
}  // namespace torvela
