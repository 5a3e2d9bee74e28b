#include "console.hpp"

#include <cstdarg>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <io.h>
#include <shellapi.h>
#endif

namespace cli {

#ifdef _WIN32
namespace {

std::string utf8_of(const wchar_t* text) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 1) return {};
    std::string out(static_cast<std::size_t>(n - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), n, nullptr, nullptr);
    return out;
}

// The console behind `to`, or nullptr for a file, a pipe or nothing.
HANDLE console_of(std::FILE* to) {
    const int fd = _fileno(to);
    if (fd < 0) return nullptr;
    const auto h = reinterpret_cast<HANDLE>(_get_osfhandle(fd));
    DWORD mode = 0;
    if (h == INVALID_HANDLE_VALUE || !GetConsoleMode(h, &mode)) return nullptr;
    return h;
}

}  // namespace

std::vector<std::string> arguments(int argc, char** argv) {
    int n = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &n);
    if (!wide) return std::vector<std::string>(argv + 1, argv + argc);
    std::vector<std::string> out;
    for (int i = 1; i < n; ++i) out.push_back(utf8_of(wide[i]));
    LocalFree(wide);
    return out;
}

void write_text(std::FILE* to, std::string_view text) {
    if (text.empty()) return;
    if (HANDLE console = console_of(to)) {
        std::fflush(to);
        const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        std::wstring wide(static_cast<std::size_t>(n), L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
        DWORD written = 0;
        if (WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr)) return;
    }
    std::fwrite(text.data(), 1, text.size(), to);
}
#else
std::vector<std::string> arguments(int argc, char** argv) { return std::vector<std::string>(argv + 1, argv + argc); }

void write_text(std::FILE* to, std::string_view text) { std::fwrite(text.data(), 1, text.size(), to); }
#endif

void say(std::FILE* to, const char* format, ...) {
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        std::string text(static_cast<std::size_t>(n) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, again);
        text.resize(static_cast<std::size_t>(n));
        write_text(to, text);
    }
    va_end(again);
}

}  // namespace cli
