// What torvela-cli takes from the command line and writes to its standard
// output and error, in UTF-8 inside. On Windows the arguments come from the
// wide command line (a folder named in Japanese arrives as typed, whatever
// the system's code page), and text for a console goes out by the wide
// console call (Japanese reads as Japanese whatever the console's code
// page); a file or a pipe gets the UTF-8 bytes everywhere.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// The arguments after the program's name, as the operator typed them.
std::vector<std::string> arguments(int argc, char** argv);

// `text` to `to`: the wide console call on a Windows console, the bytes
// otherwise.
void write_text(std::FILE* to, std::string_view text);

// printf to `to` through write_text.
void say(std::FILE* to, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace cli
