#include "Console.h"

#include <cstdarg>
#include <cstdio>

void ConsoleLine(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void ConsoleText(const char* lines)
{
    std::fputs(lines, stdout);
    std::fflush(stdout);
}

void ConsoleLinef(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}
