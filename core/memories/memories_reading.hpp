// A service engineer's reading of memories files: a page as hex rows, and
// store pages as runs (where two pages differ is compare_pages).
#pragma once

#include <string>
#include <vector>

#include "rom_data/memory_files.hpp"

namespace torvela {

// Sixteen bytes from `at` as an engineer reads them: offset, hex, and the
// printable characters beside ("  10  41 42 ...  |AB..|").
std::string hex_row(const page_bytes& page, std::size_t at);
// A page's 512 digits, as its four lines in a memories file.
std::string page_digits(const page_bytes& page);
// Store pages (their addresses) as runs of consecutive pages, in the order
// given: "000000, 000500-000600, 020000-020F00"; "none" for no page.
std::string page_runs(const std::vector<std::uint32_t>& pages);

}  // namespace torvela
