#include "platform/pending_save.hpp"

#include <system_error>

#include "platform/disk_files.hpp"

namespace torvela {

namespace fs = std::filesystem;

namespace {

constexpr const char* save_infix = ".save-";
constexpr const char* save_suffix = ".tmp";

// The file a chosen path stands for: links are followed, also to a file
// that does not exist yet.
fs::path resolve_links(fs::path p) {
    std::error_code ec;
    for (int depth = 0; depth < 40 && fs::is_symlink(p, ec); ++depth) {
        const fs::path to = fs::read_symlink(p, ec);
        if (ec) break;
        p = to.is_absolute() ? to : p.parent_path() / to;
    }
    return p.lexically_normal();
}

bool starts_with(const std::string& s, const std::string& head) { return s.rfind(head, 0) == 0; }
bool ends_with(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Files a killed save to `target` left behind: nothing else has this name.
void remove_leftovers(const fs::path& target) {
    const std::string head = "." + utf8_from_path(target.filename()) + save_infix;
    std::error_code ec;
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = utf8_from_path(it->path().filename());
        if (starts_with(name, head) && ends_with(name, save_suffix) && it->is_regular_file(ec))
            fs::remove(it->path(), ec);
    }
}

}  // namespace

bool pending_save::begin(const std::string& chosen) {
    discard();
    kept_.clear();
    target_ = resolve_links(path_from_utf8(chosen));
    remove_leftovers(target_);
    const std::string name = utf8_from_path(target_.filename());
    for (int attempt = 0; attempt < 100; ++attempt) {
        tag_ = random_tag();
        const fs::path candidate = target_.parent_path() / path_from_utf8("." + name + save_infix + tag_ + save_suffix);
        switch (create_new_file(candidate)) {
        case create_result::created:
            file_ = candidate;
            return true;
        case create_result::name_taken:
            continue;
        case create_result::failed:
            return false;
        }
    }
    return false;
}

std::string pending_save::path() const { return utf8_from_path(file_); }

bool pending_save::commit() {
    if (!active()) return false;
    std::error_code ec;
    bool ok = flush_file_to_disk(file_);
    const fs::file_status chosen = fs::status(target_, ec);
    if (ok && !ec && fs::is_regular_file(chosen)) {
        fs::permissions(file_, chosen.permissions(), fs::perm_options::replace, ec);
        ok = !ec;
    }
    if (ok) {
        // Replaces an existing file on every platform, in one step.
        fs::rename(file_, target_, ec);
        ok = !ec;
    }
    if (ok) {
        file_.clear();
        // Until the folder is on the disk, a power cut may bring the old
        // file back: the writer must not be erased yet. The memories are in
        // the chosen file, which is what the operator is told.
        if (!folder_sync(target_.parent_path())) {
            kept_ = utf8_from_path(target_);
            return false;
        }
        return true;
    }
    // The writer still holds the memories, and so does this verified copy:
    // give it a name the operator sees and no later save removes.
    const fs::path kept = target_.parent_path() /
                          path_from_utf8(utf8_from_path(target_.stem()) + ".verified-" + tag_ +
                                         utf8_from_path(target_.extension()));
    fs::rename(file_, kept, ec);
    kept_ = utf8_from_path(ec ? file_ : kept);
    file_.clear();
    return false;
}

void pending_save::discard() {
    if (!active()) return;
    std::error_code ec;
    fs::remove(file_, ec);
    file_.clear();
}

}  // namespace torvela
