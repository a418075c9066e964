#include "Console.h"

#include <cstdarg>
#include <cstdio>
#include <string_view>
#include <utility>

namespace {

// The capture of this thread, if any; each thread starts without one.
thread_local ConsoleCapture* threadCapture = nullptr;

}  // namespace

void WriteConsole(std::string_view lines)
{
    if (threadCapture != nullptr) {
        threadCapture->text_ += lines;
        return;
    }
    std::fwrite(lines.data(), 1, lines.size(), stdout);
    std::fflush(stdout);
}

ConsoleCapture::ConsoleCapture() : outer_(threadCapture) { threadCapture = this; }

ConsoleCapture::~ConsoleCapture() { threadCapture = outer_; }

std::string ConsoleCapture::Take() { return std::exchange(text_, std::string()); }

void ConsoleText(const char* lines) { WriteConsole(lines); }

void ConsoleLine(const std::string& text) { WriteConsole(text + '\n'); }

void ConsoleLinef(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    va_list measuring;
    va_copy(measuring, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measuring);
    va_end(measuring);
    std::string line(length > 0 ? std::size_t(length) : 0, '\0');
    std::vsnprintf(line.data(), line.size() + 1, format, arguments);
    va_end(arguments);
    ConsoleLine(line);
}
