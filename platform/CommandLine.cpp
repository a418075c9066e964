#include "CommandLine.h"

#include <cstdio>
#include <cstring>

#ifndef VELMORA_VERSION
#error "VELMORA_VERSION must come from the project's version"
#endif

namespace {

// A table as a range, for the loops below.
struct Table {
    const OptionSpec* specs;
    std::size_t count;
    const OptionSpec* begin() const { return specs; }
    const OptionSpec* end() const { return specs + count; }
};

const OptionSpec* FindLong(const OptionSpec* specs, std::size_t specCount, const std::string& name)
{
    for (const OptionSpec& spec : Table{specs, specCount})
        if (spec.longName && name == spec.longName)
            return &spec;
    return nullptr;
}

const OptionSpec* FindShort(const OptionSpec* specs, std::size_t specCount, char name)
{
    for (const OptionSpec& spec : Table{specs, specCount})
        if (spec.shortName && spec.shortName == name)
            return &spec;
    return nullptr;
}

}  // namespace

CommandLine ParseOptions(int argc, char** argv, const OptionSpec* specs, std::size_t specCount)
{
    CommandLine line;
    bool optionsEnded = false;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (optionsEnded || arg == "-" || arg.empty() || arg[0] != '-') {
            line.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const bool isLong = arg.compare(0, 2, "--") == 0;
        std::string shown;  // the option as the user wrote it, without any attached value
        std::string value;
        bool hasValue = false;
        const OptionSpec* spec = nullptr;
        if (isLong) {
            std::size_t equals = arg.find('=');
            shown = arg.substr(0, equals);
            spec = FindLong(specs, specCount, shown.substr(2));
            if (equals != std::string::npos) {
                value = arg.substr(equals + 1);
                hasValue = true;
            }
        } else {
            shown = arg.substr(0, 2);
            spec = FindShort(specs, specCount, arg[1]);
            if (arg.size() > 2) {
                value = arg.substr(2);
                hasValue = true;
            }
        }
        if (!spec) {
            line.problem = "unknown option '" + shown + "'";
            return line;
        }
        if (!spec->takesValue && hasValue) {
            line.problem = "option '" + shown + "' takes no value";
            return line;
        }
        if (spec->takesValue && !hasValue) {
            if (k + 1 >= argc) {
                line.problem = "option '" + shown + "' needs a value";
                return line;
            }
            value = argv[++k];
        }
        line.options.push_back({spec, value});
    }
    return line;
}

bool IsOption(const ParsedOption& option, const char* longName)
{
    return option.spec->longName && std::strcmp(option.spec->longName, longName) == 0;
}

int AnswerHelpOrVersion(const CommandLine& line, const char* program, const char* usage)
{
    bool version = false;
    for (const ParsedOption& option : line.options) {
        if (IsOption(option, "help")) {
            std::fputs(usage, stdout);
            return 0;
        }
        version = version || IsOption(option, "version");
    }
    return version ? PrintVersion(program) : -1;
}

int ReportUsageError(const char* program, const std::string& problem)
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help'.\n", program, problem.c_str(), program);
    return 2;
}

int PrintVersion(const char* program)
{
    std::printf(
        "%s (VelmoraViewer) %s\n"
        "Copyright (C) The VelmoraViewer developers.\n"
        "This is free software under the MIT licence; there is NO WARRANTY, to the extent permitted by law.\n",
        program, VELMORA_VERSION);
    return 0;
}
