// velmora-cgc: compiles one program of a shader file as the viewer would and prints the GLSL that GL would get.
// Problems are reported as compilers report them, "FILE:LINE:COL: error: MESSAGE", so editors can jump to them.

#include "CommandLine.h"
#include "ShaderCompile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kProgram[] = "velmora-cgc";
const char kUsage[] =
    "usage: velmora-cgc [OPTION]... --profile vertex|fragment FILE\n"
    "Compile one program of a shader file as velmora-viewer does and print the GLSL that GL gets.\n"
    "With FILE -, read standard input.\n"
    "\n"
    "  --entry NAME         the entry function (default main)\n"
    "  --profile STAGE      the stage to compile: vertex or fragment\n"
    "  -o, --output FILE    write the GLSL to FILE (replaced whole, only on success) instead of standard output\n"
    "  -I DIR               look for #include files in DIR, after the including file's own directory;\n"
    "                       repeat for more directories, searched in order\n"
    "  -D NAME[=VALUE]      define the macro NAME as VALUE (1 without one) before the first line\n"
    "  --help               print this help and exit\n"
    "  --version            print the version and exit\n"
    "\n"
    "A file whose first directive is #version is GLSL; any other is Cg. Errors and warnings go to standard error\n"
    "as FILE:LINE:COL: error: MESSAGE (the column where it is known). A GLSL file is checked by glslang's parser\n"
    "for the version it names. A GL driver may accept more than this check: a file that enables an extension\n"
    "glslang does not know (GL_EXT_gpu_shader4, for one) is refused here, while velmora-viewer hands it to the\n"
    "driver.\n"
    "\n"
    "Exit status: 0 when the program compiles, 1 when it does not or a file cannot be read or written,\n"
    "2 for a bad command line.\n";

constexpr OptionSpec kOptions[] = {
    {"entry", 0, true},   {"profile", 0, true}, {"output", 'o', true}, {nullptr, 'I', true},
    {nullptr, 'D', true}, {"help", 0, false},   {"version", 0, false},
};

bool IsIdentifier(const std::string& name)
{
    if (name.empty() || std::isdigit(static_cast<unsigned char>(name[0])))
        return false;
    for (char c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_')
            return false;
    return true;
}

// What -D must look like: an identifier, then "=" and a value on one line.
bool IsMacroDefinition(const std::string& define)
{
    return IsIdentifier(define.substr(0, define.find('='))) && define.find_first_of("\r\n") == std::string::npos;
}

// Standard input, up to the size the viewer reads of a shader file.
bool ReadStandardInput(std::string& text, std::string& problem)
{
    char buffer[65536];
    for (;;) {
        std::size_t got = std::fread(buffer, 1, sizeof buffer, stdin);
        text.append(buffer, got);
        if (text.size() > static_cast<std::size_t>(kShaderFileBytes)) {
            problem = "standard input is larger than " + std::to_string(kShaderFileBytes >> 20) + " MiB";
            return false;
        }
        if (got < sizeof buffer) {
            if (std::ferror(stdin)) {
                problem = std::string("cannot read standard input: ") + std::strerror(errno);
                return false;
            }
            return true;
        }
    }
}

// Writes text to a new file beside path and renames it over path, so path is never left half written.
bool WriteWhole(const std::string& path, const std::string& text, std::string& problem)
{
    std::string aside = path + ".XXXXXX";
    int fd = mkstemp(aside.data());
    if (fd < 0) {
        problem = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    mode_t mask = umask(0);
    umask(mask);
    bool written = fchmod(fd, 0666 & ~mask) == 0;
    for (std::size_t at = 0; written && at < text.size();) {
        ssize_t sent = write(fd, text.data() + at, text.size() - at);
        if (sent < 0 && errno == EINTR)
            continue;
        written = sent > 0;
        at += written ? static_cast<std::size_t>(sent) : 0;
    }
    int error = written ? 0 : errno;
    if (close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && std::rename(aside.c_str(), path.c_str()) != 0) {
        written = false;
        error = errno;
    }
    if (!written) {
        unlink(aside.c_str());
        problem = "cannot write " + path + ": " + std::strerror(error != 0 ? error : EIO);
    }
    return written;
}

int Fail(const std::string& problem)
{
    std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    CommandLine line = ParseCommandLine(argc, argv, kOptions);
    if (!line.problem.empty())
        return ReportUsageError(kProgram, line.problem);
    if (const int code = AnswerHelpOrVersion(line, kProgram, kUsage); code >= 0)
        return code;
    std::string entry = "main";
    std::string profile;
    std::string output = "-";
    ShaderCompileOptions options;
    options.parseGlsl = true;
    for (const ParsedOption& option : line.options) {
        if (IsOption(option, "entry"))
            entry = option.value;
        else if (IsOption(option, "profile"))
            profile = option.value;
        else if (IsOption(option, "output"))
            output = option.value;
        else if (option.spec->shortName == 'I')
            options.includeDirectories.push_back(option.value);
        else if (!IsMacroDefinition(option.value))
            return ReportUsageError(kProgram, "-D " + option.value + ": not NAME or NAME=VALUE");
        else
            options.defines.push_back(option.value);
    }
    if (!IsIdentifier(entry))
        return ReportUsageError(kProgram, "--entry " + entry + ": not a function name");
    if (profile != "vertex" && profile != "fragment")
        return ReportUsageError(kProgram, "--profile must be vertex or fragment");
    if (line.operands.empty())
        return ReportUsageError(kProgram, "no shader file given");
    if (line.operands.size() > 1)
        return ReportUsageError(kProgram, "more than one shader file given");
    const bool standardInput = line.operands[0] == "-";
    const std::string file = standardInput ? "<stdin>" : line.operands[0];

    std::string source;
    std::string problem;
    if (!(standardInput ? ReadStandardInput(source, problem) : ReadShaderFile(file, source, problem)))
        return Fail(problem);
    ShaderText text = CompileShaderText(source, file, profile == "vertex", entry, options);
    std::fputs(text.listing.c_str(), stderr);
    if (!text.compiled)
        return 1;
    if (output == "-") {
        std::fputs(text.glsl.c_str(), stdout);
        return 0;
    }
    return WriteWhole(output, text.glsl, problem) ? 0 : Fail(problem);
}
