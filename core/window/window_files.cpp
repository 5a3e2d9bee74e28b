#include "window/window_files.hpp"

#include <filesystem>
#include <system_error>

#include "platform/disk_files.hpp"

namespace torvela {

std::string first_folder(const std::vector<std::string>& candidates) {
    for (const std::string& folder : candidates) {
        std::error_code ec;
        if (!folder.empty() && std::filesystem::is_directory(path_from_utf8(folder), ec)) return folder;
    }
    return {};
}

std::string trace_not_saved(const std::string& path) {
    return path + " could not be written (a full disk, or a folder you may not write to); the trace is still "
                  "here: choose another file.";
}

void dialog_folder::chose(const std::string& file) {
    const std::size_t slash = file.find_last_of("/\\");
    if (slash == std::string::npos) return;
    // The root keeps its separator: "/", "C:\".
    const bool root = slash == 0 || (slash > 0 && file[slash - 1] == ':');
    folder_ = file.substr(0, root ? slash + 1 : slash);
}

}  // namespace torvela
