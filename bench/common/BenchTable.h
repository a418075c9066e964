// Timing and output shared by the benchmark programs. Every program prints its figures as rows of one Markdown
// table, | section | measurement | ours | baseline (same run) | ratio |, which run-benchmarks.sh gathers from
// the lines that start with "|"; anything else a program prints goes to the log.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

// The command line as every benchmark program takes it: "--help" prints the usage on standard output and ends
// with 0; arguments that the caller found invalid print it on standard error and end with 2.
inline void CheckArguments(int argc, char** argv, const char* usage, bool valid)
{
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("usage: %s\n", usage);
        std::exit(0);
    }
    if (!valid) {
        std::fprintf(stderr, "usage: %s\n", usage);
        std::exit(2);
    }
}

// The middle value; the mean of the two middle values for an even count.
inline double Median(std::vector<double> values)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    const size_t half = values.size() / 2;
    return values.size() % 2 ? values[half] : (values[half - 1] + values[half]) / 2;
}

inline double SecondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Runs the action `runs` times and returns the median duration in seconds.
template <class Action>
double MedianSeconds(int runs, Action&& action)
{
    std::vector<double> seconds;
    for (int run = 0; run < runs; ++run) {
        const auto start = std::chrono::steady_clock::now();
        action();
        seconds.push_back(SecondsSince(start));
    }
    return Median(seconds);
}

// printf into a string.
inline std::string Format(const char* format, ...)
{
    char buffer[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(buffer, sizeof buffer, format, arguments);
    va_end(arguments);
    return buffer;
}

inline void PrintRow(const std::string& section, const std::string& measurement, const std::string& ours,
                     const std::string& baseline, const std::string& ratio)
{
    std::printf("| %s | %s | %s | %s | %s |\n", section.c_str(), measurement.c_str(), ours.c_str(), baseline.c_str(),
                ratio.c_str());
    std::fflush(stdout);
}
