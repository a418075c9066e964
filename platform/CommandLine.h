// Command lines as GNU programs read them, shared by every program of the project: "--name value" and
// "--name=value", "-x value" and "-xvalue" for one-letter options, "--" ends the options, and "-" alone is an
// operand (standard input, by convention). Options and operands may come in any order.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct OptionSpec {
    const char* longName;  // without the dashes; null for an option with only a one-letter name
    char shortName;        // 0 for none
    bool takesValue;
};

struct ParsedOption {
    const OptionSpec* spec;  // the entry of the table the option matched
    std::string value;       // empty for an option that takes none
};

struct CommandLine {
    std::vector<ParsedOption> options;  // in command-line order, repeats kept
    std::vector<std::string> operands;
    std::string problem;  // empty when the whole line parsed, else what is wrong with it
};

// Matches argv[1..argc) against the table specs[0..specCount). A long option may be abbreviated to no prefix: GNU
// accepts unique prefixes, but a program that later gains an option would silently change the meaning of old command
// lines.
CommandLine ParseOptions(int argc, char** argv, const OptionSpec* specs, std::size_t specCount);

// The same with a program's constant table of options.
template <std::size_t N>
CommandLine ParseCommandLine(int argc, char** argv, const OptionSpec (&specs)[N])
{
    return ParseOptions(argc, argv, specs, N);
}

// True when option matched the table entry whose long name is longName.
bool IsOption(const ParsedOption& option, const char* longName);

// When the line holds --help or --version: prints the usage (help wins wherever the two stand) or the version on
// standard output and returns 0, the exit code to end with; -1 when it holds neither.
int AnswerHelpOrVersion(const CommandLine& line, const char* program, const char* usage);

// "PROGRAM: PROBLEM" and "Try 'PROGRAM --help'." on standard error; returns 2, the exit code of a usage error.
int ReportUsageError(const char* program, const std::string& problem);

// "PROGRAM (VelmoraViewer) VERSION" and the licence line on standard output, as help2man reads them; returns 0.
int PrintVersion(const char* program);
