// The console: every line the viewer and its loaders show goes through here, on standard output, each ended by a
// newline and flushed at once, so that lines from the viewer and from child processes interleave in order.
#pragma once

#include <string>

// Writes text and a newline, then flushes.
void ConsoleLine(const std::string& text);

// Writes text that already ends in a newline (one or more whole lines), then flushes.
void ConsoleText(const char* lines);

// Formats like printf, then writes the result as one line.
void ConsoleLinef(const char* format, ...) __attribute__((format(printf, 1, 2)));
