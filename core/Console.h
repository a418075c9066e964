// The console: every line the viewer and its loaders show goes through here, on standard output, each ended by a
// newline and flushed at once, so that lines from the viewer and from child processes interleave in order.
#pragma once

#include <string>
#include <string_view>

// Writes text and a newline, then flushes.
void ConsoleLine(const std::string& text);

// Writes text that already ends in a newline (one or more whole lines), then flushes.
void ConsoleText(const char* lines);

// Formats like printf, then writes the result as one line.
void ConsoleLinef(const char* format, ...) __attribute__((format(printf, 1, 2)));

// What the three above write through: whole lines, to this thread's capture or to standard output.
void WriteConsole(std::string_view lines);

// While it lives, what this thread writes to the console is kept in it instead of printed; other threads print
// as before. Work done ahead in the background keeps its lines so, to print them when its result is shown, or
// never when it is dropped. Captures nest: the innermost one of the thread takes the lines.
class ConsoleCapture {
public:
    ConsoleCapture();
    ~ConsoleCapture();
    ConsoleCapture(const ConsoleCapture&) = delete;
    ConsoleCapture& operator=(const ConsoleCapture&) = delete;

    // The lines kept so far, each ended by a newline; the capture is then empty.
    std::string Take();

private:
    friend void WriteConsole(std::string_view lines);
    std::string text_;
    ConsoleCapture* outer_;
};
