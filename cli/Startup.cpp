#include "cli/Startup.h"

#include <cstdio>
#include <string>

#include "lib/base/Strings.h"

namespace brenvo {

bool StartController(TMainController& c, const ConsoleView& view, OnStartupFailure onFailure) {
    if (c.Startup()) return true;
    if (!view.EchoLog())
        for (const std::string& line : c.ActivityLog())
            if (StartsWith(line, "Init ABBRUCH ")) std::fprintf(stderr, "%s\n", line.c_str());
    if (onFailure == OnStartupFailure::ShutDown) c.Shutdown();
    std::fprintf(stderr, "Programmstart fehlgeschlagen.\n");
    return false;
}

} // namespace brenvo
