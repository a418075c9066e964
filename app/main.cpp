#include "Startup.h"
#include "ViewerArguments.h"

#include "CommandLine.h"

#include <cstdio>
#include <exception>
#include <new>

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
    // What the system refuses on the way (memory above all) ends in a line rather than an abort.
    try {
        const Outcome started = RunViewer(argc, argv, search, arguments.watch);
        if (!started.Ok()) {
            if (started.Reason() == FailureReason::NotFound)
                ReportNoLevel(search);
            return 1;
        }
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "velmora-viewer: out of memory\n");
        return 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "velmora-viewer: %s\n", error.what());
        return 1;
    }
    return 0;
}
