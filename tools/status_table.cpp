// Prints the table of failure texts the README carries, from the core's
// status table: `status_table > table.md`, or with README.md as argument
// checks that the README holds it as it is (exit 1 when it does not).
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "console/status_texts.hpp"

int main(int argc, char** argv) {
    const std::string table = torvela::failure_table();
    if (argc < 2) {
        std::fputs(table.c_str(), stdout);
        return 0;
    }
    std::ifstream in(argv[1], std::ios::binary);
    std::stringstream readme;
    readme << in.rdbuf();
    if (readme.str().find(table) != std::string::npos) return 0;
    std::fprintf(stderr, "%s does not hold the status table as the core has it; put in:\n%s", argv[1], table.c_str());
    return 1;
}
