// The compile process as a process: its sandbox (bodies of our own in place of the compiler try what a compiler
// that a shader file took over might try), and what a compile reports when the process is killed, stopped or runs
// out of the time that a batch of compiles shares, also when the batch ran ahead of its requests.
#include "PreparedShaders.h"
#include "ShaderCompile.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char kSource[] = "float4 fragmain() : COLOR { return 1; }\n";

// [SECTION] Compiler bodies

enum class Attempt { ReadFile, WriteStandardError, Crash, WriteFile, CreateFile, Exec, Fork, Socket, Stall };

// Tries one thing with the source as its argument (a path), answering with what it got; kSource is answered as
// compiled without trying anything.
template <Attempt kind>
ShaderText Try(const std::string& source, const std::string&, bool, const std::string&, const ShaderCompileOptions&)
{
    ShaderText text;
    text.compiled = true;
    if (source == kSource)
        return text;
    const char* path = source.c_str();
    switch (kind) {
    case Attempt::ReadFile: {
        char bytes[64] = {};
        const int fd = open(path, O_RDONLY | O_CLOEXEC);
        text.compiled = fd >= 0 && read(fd, bytes, sizeof bytes - 1) > 0;
        text.listing = bytes;
        close(fd);
        break;
    }
    case Attempt::WriteStandardError:
        text.compiled = write(STDERR_FILENO, "x\n", 2) < 0;
        break;
    case Attempt::Crash:  // a fault that sanitizer runtimes leave to the process
        abort();
    case Attempt::WriteFile:
        close(open(path, O_WRONLY | O_CLOEXEC));
        break;
    case Attempt::CreateFile:
        close(open((source + ".new").c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0600));
        break;
    case Attempt::Exec:
        execl("/bin/true", "true", nullptr);
        break;
    case Attempt::Fork:
        if (fork() == 0)
            _exit(0);
        break;
    case Attempt::Socket:
        close(socket(AF_INET, SOCK_STREAM, 0));
        break;
    case Attempt::Stall:
        for (volatile bool spin = true; spin;) {
        }
        break;
    }
    return text;
}

class CompileProcessTest : public testing::Test {
protected:
    void TearDown() override { UseShaderCompileBody(nullptr); }

    // Starts a compile process running body with an honest compile, and returns its id.
    int StartWith(ShaderCompileBody body)
    {
        UseShaderCompileBody(body);
        const ShaderText text = CompileShaderText(kSource, "honest.cg", false, "fragmain");
        EXPECT_TRUE(text.compiled) << text.listing;
        return ShaderCompileProcessId();
    }

    TempDir dir{"compile-process"};
};

// [SECTION] The sandbox

TEST_F(CompileProcessTest, TheCompileProcessRunsUnderASeccompFilter)
{
    const int pid = StartWith(nullptr);
    ASSERT_GT(pid, 0);
    const std::string status = ReadFileText("/proc/" + std::to_string(pid) + "/status");
    EXPECT_NE(status.find("\nSeccomp:\t2\n"), std::string::npos) << status;
    EXPECT_NE(status.find("\nNoNewPrivs:\t1\n"), std::string::npos);
}

TEST_F(CompileProcessTest, TheCompilerMayReadFilesAndNothingElse)
{
    dir.Write("include.cg", "float4 shared;\n");
    const struct {
        const char* what;
        ShaderCompileBody body;
        bool allowed;
        const char* listing;
    } cases[] = {
        {"reads a file", Try<Attempt::ReadFile>, true, "float4 shared;\n"},
        {"writes to standard error (fails quietly)", Try<Attempt::WriteStandardError>, true, ""},
        {"crashes", Try<Attempt::Crash>, false, "the compiler crashed (signal 6 SIGABRT) on this file"},
        {"opens a file for writing", Try<Attempt::WriteFile>, false, "sandbox forbids"},
        {"creates a file", Try<Attempt::CreateFile>, false, "sandbox forbids"},
        {"runs a program", Try<Attempt::Exec>, false, "sandbox forbids"},
        {"starts a process", Try<Attempt::Fork>, false, "sandbox forbids"},
        {"opens a socket", Try<Attempt::Socket>, false, "sandbox forbids"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_GT(StartWith(c.body), 0);
        const ShaderText text = CompileShaderText(dir.File("include.cg"), "case.cg", false, "fragmain");
        EXPECT_EQ(text.compiled, c.allowed) << text.listing;
        EXPECT_NE(text.listing.find(c.listing), std::string::npos) << text.listing;
        EXPECT_EQ(ShaderCompileProcessId() > 0, c.allowed) << "a compile process that broke out was kept";
    }
    EXPECT_FALSE(dir.Exists("include.cg.new"));
    // A compile after a violation forks a new process that compiles.
    EXPECT_TRUE(CompileShaderText(kSource, "after.cg", false, "fragmain").compiled);
}

// [SECTION] Interference from outside, and the time a batch shares

TEST_F(CompileProcessTest, AProcessKilledOrStoppedFromOutsideBlamesNoFileAndIsReplaced)
{
    const struct {
        int signal;
        const char* listing;
    } cases[] = {
        {SIGKILL, "case.cg: not compiled: the compile process was killed from outside (signal 9 SIGKILL)"},
        {SIGTERM, "case.cg: not compiled: the compile process was killed from outside (signal 15 SIGTERM)"},
        {SIGSTOP, "case.cg: not compiled: the compile process was stopped from outside"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.signal);
        const int pid = StartWith(Try<Attempt::Stall>);
        ASSERT_GT(pid, 0);
        std::thread outside([pid, signal = c.signal] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            kill(pid, signal);
        });
        const Clock::time_point start = Clock::now();
        const ShaderText text = CompileShaderText("stall", "case.cg", false, "fragmain");
        const auto waited = Clock::now() - start;
        outside.join();
        EXPECT_FALSE(text.compiled);
        EXPECT_EQ(text.listing.rfind(c.listing, 0), 0u) << text.listing;
        EXPECT_EQ(text.listing.find("on this file"), std::string::npos) << text.listing;
        EXPECT_LT(waited, std::chrono::seconds(2));
        EXPECT_NE(kill(pid, 0), 0) << "the old process remains";
        UseShaderCompileBody(nullptr);
        EXPECT_TRUE(CompileShaderText(kSource, "after.cg", false, "fragmain").compiled);
    }
}

TEST_F(CompileProcessTest, ABatchOfStallingCompilesWaitsNoLongerThanItsBudgetInAll)
{
    ASSERT_GT(StartWith(Try<Attempt::Stall>), 0);
    const Clock::time_point start = Clock::now();
    std::vector<ShaderText> texts;
    {
        const ShaderCompileBudget budget(1000);
        // Each compile after the first forks a new process that stalls again.
        for (int i = 0; i < 8; ++i)
            texts.push_back(CompileShaderText("stall", "case.cg", i % 2 == 0, "fragmain"));
    }
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(1800));
    EXPECT_EQ(texts[0].listing, "case.cg: the compiles took longer than 1 s in all\n");
    for (std::size_t i = 1; i < texts.size(); ++i)
        EXPECT_EQ(texts[i].listing, "case.cg: not compiled: the compiles took longer than 1 s in all\n");
    // Once the batch is over, a compile has its own time again.
    UseShaderCompileBody(nullptr);
    EXPECT_TRUE(CompileShaderText(kSource, "after.cg", false, "fragmain").compiled);
}

// A start-up whose vertex program stalls spends the prefetch's budget, and the fragment program is left "not
// compiled"; the start-up never asks for it, as its pair already failed. Once the start-up is over, a reload of the
// same file compiles the fragment program in time of its own instead of getting that stale failure.
TEST_F(CompileProcessTest, AReloadAfterAStartUpThatRanOutOfTimeCompilesAgain)
{
    setenv("XDG_CACHE_HOME", dir.Path().c_str(), 1);
    UseShaderCompileBody([](const std::string&, const std::string&, bool vertexStage, const std::string&,
                            const ShaderCompileOptions&) {
        for (volatile bool spin = vertexStage; spin;) {
        }
        ShaderText text;
        text.compiled = true;
        return text;
    });
    dir.Write("case.cg", "either stage");
    const std::string file = dir.File("case.cg");
    PrefetchShaderTexts({{file, true, "vertexmain"}, {file, false, "fragmain"}}, {}, "driver");
    EXPECT_FALSE(PreparedShaderText("either stage", file, true, "vertexmain", {}, "driver").compiled);
    FinishShaderPrefetch();
    const ShaderText reloaded = PreparedShaderText("either stage", file, false, "fragmain", {}, "driver");
    EXPECT_TRUE(reloaded.compiled) << reloaded.listing;
    unsetenv("XDG_CACHE_HOME");
}

}  // namespace
