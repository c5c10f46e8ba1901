#include <cstdio>

#include "tools/host.h"

namespace {

int Caps(HostContext& ctx, const std::vector<std::string>& args) {
    if (!args.empty()) return UsageError("caps takes no arguments");
    std::printf("%d\n", ctx.api->GetPackerCaps());
    return 0;
}

const char kCapsHelp[] =
    "Prints the flags that the plug-in's GetPackerCaps returns, as a decimal number:\n"
    "95 = create archives (1), add to them (2), several files (4), delete entries (8),\n"
    "options dialog (16), recognised by content (64). A quick check that the plug-in\n"
    "loads.\n";

HostCommandRegistration registration({90, "caps", "", "print the plug-in's capability flags (GetPackerCaps)", Caps,
                                      kCapsHelp});

} // namespace
