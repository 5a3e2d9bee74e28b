// Numbered sequential text files: file 1 is the file read or written page by
// page, file 2 the output of the ROM data conversion. Paths are UTF-8 text.
// Lines are byte strings (no character conversion); output lines end with
// CR LF, input accepts CR LF and LF.
#pragma once

#include <cstdio>
#include <cstdint>
#include <string>

namespace torvela {

class seq_files {
public:
    virtual ~seq_files() = default;
    // Only a regular file is opened for input: a device or a pipe could
    // block the window or never end.
    virtual bool open_input(int n, const std::string& path) = 0;
    // Creates or empties the file.
    virtual bool open_output(int n, const std::string& path) = 0;
    // Takes a stream already open on a file the caller holds (a save's new
    // file): for output or for input; it is closed with the number. False
    // for no stream.
    virtual bool adopt(int n, std::FILE* fp, bool output) = 0;
    virtual bool is_open(int n) const = 0;
    // One whole line without its ending; empty at end of file. A line ending
    // inside the first `min_len` bytes is taken as data (a header line may
    // hold any byte, CR and LF included). A line longer than max_line is cut
    // there; the rest of it is the next line.
    virtual std::string read_line(int n, std::size_t min_len) = 0;
    std::string read_line(int n) { return read_line(n, 0); }
    static constexpr std::size_t max_line = 65536;
    virtual void print_line(int n, const std::string& line) = 0;
    virtual bool eof(int n) = 0;
    // Lines read from the file since it was opened.
    virtual std::size_t lines_read(int n) const = 0;
    // Closes if open; false when buffered output could not be written.
    virtual bool close(int n) = 0;
};

// Real files through the C library (wide file names on Windows).
class std_seq_files final : public seq_files {
public:
    std_seq_files() = default;
    std_seq_files(const std_seq_files&) = delete;
    std_seq_files& operator=(const std_seq_files&) = delete;
    ~std_seq_files() override;
    bool open_input(int n, const std::string& path) override;
    bool open_output(int n, const std::string& path) override;
    bool adopt(int n, std::FILE* fp, bool output) override;
    bool is_open(int n) const override;
    std::string read_line(int n, std::size_t min_len) override;
    using seq_files::read_line;
    void print_line(int n, const std::string& line) override;
    bool eof(int n) override;
    std::size_t lines_read(int n) const override;
    bool close(int n) override;

private:
    struct slot {
        std::FILE* fp = nullptr;
        bool output = false;
        bool failed = false;
        int error = 0;  // the system's reason of the first failed write
        std::size_t lines = 0;
    };
    slot* get(int n);
    const slot* get(int n) const;
    slot slots_[3];
};

// A folder only this user can read (mode 0700) with an unpredictable name,
// created below the system temporary folder; removed with everything in it
// when the object goes.
class private_work_folder {
public:
    private_work_folder();
    private_work_folder(const private_work_folder&) = delete;
    private_work_folder& operator=(const private_work_folder&) = delete;
    ~private_work_folder();
    const std::string& path() const { return path_; }
    std::string file(const std::string& name) const;

private:
    std::string path_;
    // NAME.held, held open while the folder lives (a lock on POSIX, a file
    // nobody else may open on Windows, which goes when its handle closes):
    // a live folder, not one a killed program left.
    std::intptr_t held_ = -1;
};

}  // namespace torvela
