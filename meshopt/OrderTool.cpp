// velmora-order: reads 16-bit triangle indices from standard input and prints them reordered as the render
// geometry build orders them, or with --acmr the FIFO cache miss ratio before and after.
#include "CommandLine.h"
#include "TriangleOrder.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <new>
#include <string>
#include <vector>

namespace {

// The render geometry's vertex cache: the tool orders for it and measures with it.
constexpr unsigned measuredCacheSize = 24;

const char kProgram[] = "velmora-order";

const char kUsage[] =
    "usage: velmora-order [--acmr] < indices\n"
    "Reads whitespace-separated 16-bit triangle indices (three per triangle) from standard input and prints them in\n"
    "the order the viewer's render geometry build gives them, on one line.\n"
    "  --acmr      print instead the FIFO cache miss ratio (24 entries) before and after the reordering\n"
    "  --help      print this and exit\n"
    "  --version   print the version and exit\n"
    "Exits 0; 1 when standard input cannot be read or standard output written, 2 for bad options or input\n"
    "(with a line on standard error).\n";

constexpr OptionSpec kOptions[] = {{"acmr", 0, false}, {"help", 0, false}, {"version", 0, false}};

int Fail(const std::string& message, int exitCode = 2)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, message.c_str());
    return exitCode;
}

bool IsInteger(const std::string& token)
{
    size_t digits = token[0] == '-' || token[0] == '+' ? 1 : 0;
    if (digits == token.size())
        return false;
    for (size_t i = digits; i < token.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(token[i])))
            return false;
    return true;
}

bool InIndexRange(const std::string& token)
{
    if (token[0] == '-')
        return token.find_first_not_of("-0") == std::string::npos;
    size_t first = token.find_first_not_of("+0");
    if (first == std::string::npos)
        return true;
    std::string digits = token.substr(first);
    return digits.size() < 5 || (digits.size() == 5 && digits <= "65535");
}

int Order(bool acmr)
{
    std::vector<uint16_t> indices;
    std::string token;
    while (std::cin >> token) {
        if (!IsInteger(token))
            return Fail("not a number: " + token);
        if (!InIndexRange(token))
            return Fail("index outside 0 to 65535: " + token);
        indices.push_back(uint16_t(std::stoul(token[0] == '-' ? std::string("0") : token)));
    }
    if (std::ferror(stdin))
        return Fail(std::string("cannot read standard input: ") + std::strerror(errno), 1);
    if (indices.size() % 3 != 0)
        return Fail("index count " + std::to_string(indices.size()) + " is not a multiple of 3");

    OrderOptions options;
    options.cacheSize = int(measuredCacheSize);
    OrderScratch scratch;
    std::vector<uint16_t> list(indices.size());
    const OrderResult result = OrderTriangles(list.data(), indices.data(), uint32_t(indices.size()), options, scratch);
    list.resize(result.indexCount);
    // Standard output carries only the result; the optimiser's warnings go beside it.
    result.console.Print(stderr);

    if (acmr) {
        std::printf("before %.6f after %.6f\n",
                    FifoCacheMissRatio(indices.data(), uint32_t(indices.size()), measuredCacheSize),
                    FifoCacheMissRatio(list.data(), uint32_t(list.size()), measuredCacheSize));
    } else {
        for (size_t i = 0; i < list.size(); ++i)
            std::printf(i ? " %u" : "%u", unsigned(list[i]));
        std::printf("\n");
    }
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        return Fail(std::string("cannot write standard output: ") + std::strerror(errno), 1);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const CommandLine line = ParseCommandLine(argc, argv, kOptions);
    if (!line.problem.empty())
        return ReportUsageError(kProgram, line.problem);
    if (const int code = AnswerHelpOrVersion(line, kProgram, kUsage); code >= 0)
        return code;
    for (const std::string& operand : line.operands)
        if (operand != "-")
            return ReportUsageError(kProgram,
                                    "unexpected argument '" + operand + "' (the indices come on standard input)");
    bool acmr = false;
    for (const ParsedOption& option : line.options)
        acmr = acmr || IsOption(option, "acmr");
    try {
        return Order(acmr);
    } catch (const std::bad_alloc&) {
        return Fail("out of memory", 1);
    } catch (const std::exception& error) {
        return Fail(error.what(), 1);
    }
}
