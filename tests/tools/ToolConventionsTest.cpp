// The command-line tools behave as command-line programs do: --help prints the usage on standard output and exits
// 0; an unknown option prints the usage on standard error and exits 2.
#include "TestSupport.h"

#include <gtest/gtest.h>

TEST(ToolConventions, HelpOnStandardOutputAndBadOptionsOnStandardError)
{
    for (const char* tool : {VELMORA_LEVELGEN, VELMORA_ORDER, VELMORA_CGC}) {
        SCOPED_TRACE(tool);
        const CommandResult help = RunCommand(std::string(tool) + " --help");
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_EQ(help.out.rfind("usage: ", 0), 0u) << help.out;
        EXPECT_EQ(help.err, "");

        const CommandResult bad = RunCommand(std::string(tool) + " --no-such-option");
        EXPECT_EQ(bad.exitCode, 2);
        EXPECT_EQ(bad.out, "");
        const bool named = bad.err.find("unknown option '--no-such-option'") != std::string::npos ||
                           bad.err.find("usage: ") != std::string::npos;
        EXPECT_TRUE(named) << bad.err;
    }
}
