// JSON text as the tool writes it (the command line's --json, the job
// history) and reads it back (the history's records: flat objects).
#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace torvela {

// The length of the well-formed UTF-8 sequence at `i`, or 0 when there is
// none: no overlong form, no surrogate, nothing past U+10FFFF.
std::size_t utf8_length(std::string_view s, std::size_t i);
// `s` with each byte that is not well-formed UTF-8 as U+FFFD.
std::string well_formed_utf8(std::string_view s);

// A JSON string: quotes, backslashes and control characters escaped, and
// each byte that is not well-formed UTF-8 (a header line may hold any byte)
// as the lone surrogate \uDCXX, XX the byte, which no character is.
std::string json_string(std::string_view s);

// One object of string and number members, as json_string and whole
// numbers write them: the strings decoded (\uDCXX back to its byte), a
// number as its digits. Nothing when the text is anything else (a line
// cut short, nested values, a member twice).
using flat_object = std::map<std::string, std::string>;
std::optional<flat_object> read_flat_object(std::string_view text);

}  // namespace torvela
