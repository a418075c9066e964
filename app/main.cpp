#include "Startup.h"
#include "ViewerArguments.h"

#include "CommandLine.h"

#include <cstdio>

int main(int argc, char** argv)
{
    const ViewerArguments arguments = ParseViewerArguments(argc, argv);
    switch (arguments.action) {
    case ViewerArguments::Action::Help:
        std::fputs(ViewerUsage(), stdout);
        return 0;
    case ViewerArguments::Action::Version:
        return PrintVersion("velmora-viewer");
    case ViewerArguments::Action::UsageError:
        return ReportUsageError("velmora-viewer", arguments.problem);
    case ViewerArguments::Action::Run:
        break;
    }
    if (!arguments.level.empty())
        if (const int code = EnterLevelDirectory(arguments.level))
            return code;
    const LevelSearch search = SearchFor(arguments);
    if (RunViewer(argc, argv, search) != 0) {
        ReportNoLevel(search);
        return 1;
    }
    return 0;
}
