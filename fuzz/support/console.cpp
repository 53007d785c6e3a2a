// The runtime library's output as the renamed firmware sees it, captured.
#include "console.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
std::string g_text;
}  // namespace

extern "C" {
int gimbal_rt_vprintf(const char* format, va_list args) {
    char text[512];
    const int n = std::vsnprintf(text, sizeof text, format, args);
    g_text += text;
    return n;
}
int gimbal_rt_printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = gimbal_rt_vprintf(format, args);
    va_end(args);
    return n;
}
int gimbal_rt_puts(const char* text) {
    g_text += text;
    g_text += '\n';
    return 1;
}
int gimbal_rt_putchar(int ch) {
    g_text += static_cast<char>(ch);
    return ch;
}
int gimbal_rt_fflush(FILE*) {
    return 0;
}
}

namespace fuzz {

std::vector<std::string> take_console_lines() {
    std::vector<std::string> lines;
    size_t from = 0;
    while (from < g_text.size()) {
        size_t nl = g_text.find('\n', from);
        if (nl == std::string::npos) {
            lines.push_back(g_text.substr(from));
            break;
        }
        size_t end = nl;
        if (end > from && g_text[end - 1] == '\r') {
            end--;
        }
        lines.push_back(g_text.substr(from, end - from));
        from = nl + 1;
    }
    g_text.clear();
    return lines;
}

void fail(const std::string& what) {
    std::fprintf(stderr, "FINDING: %s\nconsole:\n%s\n", what.c_str(), g_text.c_str());
    std::abort();
}

}  // namespace fuzz
