// Real files for the tests, in a private folder removed afterwards.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/disk_files.hpp"
#include "platform/seq_files.hpp"

namespace test_support {

// Paths are UTF-8 text, as the tool holds them.
inline void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(torvela::path_from_utf8(path), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string read_file(const std::string& path) {
    std::ifstream in(torvela::path_from_utf8(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline bool exists(const std::string& path) { return std::ifstream(torvela::path_from_utf8(path)).good(); }

// Lines split at CR LF (a lone LF inside a line stays in it).
inline std::vector<std::string> crlf_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find("\r\n", at);
        if (end == std::string::npos) {
            lines.push_back(text.substr(at));
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

inline std::string hex(const std::uint8_t* p, std::size_t n) {
    static const char* d = "0123456789ABCDEF";
    std::string s;
    for (std::size_t i = 0; i < n; ++i) {
        s.push_back(d[p[i] >> 4]);
        s.push_back(d[p[i] & 15]);
    }
    return s;
}

// A memories file as SAVE MEMORIES TO FILE writes it for an M32R unit: the
// header from the 21 bytes of the machine version page (00 as '/', 20 as
// '_'), the CPU line, 128 records of the 32 KB memories area.
inline std::string memories_file_text(const std::uint8_t (&version)[21], const std::uint8_t* area) {
    std::string text;
    for (std::uint8_t b : version) text.push_back(b == 0 ? '/' : b == 32 ? '_' : static_cast<char>(b));
    text += "\r\nM32R\r\n";
    for (int p = 0; p < 128; ++p) {
        const std::uint8_t page = static_cast<std::uint8_t>(p);
        text += "0000" + hex(&page, 1) + "00\r\n";
        for (int k = 0; k < 4; ++k) text += hex(area + p * 256 + k * 64, 64) + "\r\n";
    }
    return text;
}

// A ROM data file line: S2 record with a 24-bit address, checksum included.
inline std::string s2_record(std::uint32_t address, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> body = {static_cast<std::uint8_t>(data.size() + 4),
                                      static_cast<std::uint8_t>(address >> 16),
                                      static_cast<std::uint8_t>(address >> 8),
                                      static_cast<std::uint8_t>(address)};
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = 0;
    for (auto b : body) sum += b;
    body.push_back(static_cast<std::uint8_t>(~sum));
    return "S2" + hex(body.data(), body.size());
}

// The end record of a file of S2 records (start address 0).
inline const std::string s8_end = "S804000000FB\n";

// S-record files made by srec_cat, the independent converter the ROM data
// conversion is checked against. Where srec_cat cannot run (the Windows
// suites under Wine), the file it made for the same binary and options on
// the host run before is taken: a run with srec_cat keeps its files in
// $TORVELA_SREC_KEEP, a run without reads them from $TORVELA_SREC_DIR.
inline bool srec_cat_runs() { return std::system("srec_cat --version > /dev/null 2>&1") == 0; }
inline bool srec_files_available() { return srec_cat_runs() || std::getenv("TORVELA_SREC_DIR"); }

// srec_cat BIN -binary IN -o OUT_PATH OUT; false when there is no such file.
inline bool srec_cat(const std::string& bin_path, const std::string& in, const std::string& out_path,
                     const std::string& out) {
    std::uint64_t h = 1469598103934665603ull;  // FNV-1a of the binary and the options
    for (char c : read_file(bin_path) + "|" + in + "|" + out) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    char key[32];
    std::snprintf(key, sizeof key, "/%016llx.srec", static_cast<unsigned long long>(h));
    if (srec_cat_runs()) {
        const std::string cmd = "srec_cat '" + bin_path + "' -binary " + in + " -o '" + out_path + "' " + out;
        if (std::system(cmd.c_str()) != 0) return false;
        if (const char* keep = std::getenv("TORVELA_SREC_KEEP")) write_file(keep + std::string(key), read_file(out_path));
        return true;
    }
    const char* dir = std::getenv("TORVELA_SREC_DIR");
    if (!dir || !exists(dir + std::string(key))) return false;
    write_file(out_path, read_file(dir + std::string(key)));
    return true;
}

}  // namespace test_support
