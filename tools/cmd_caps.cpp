#include <cstdio>

#include "tools/host.h"

namespace {

int Caps(HostContext& ctx, const std::vector<std::string>& args) {
    bool functions = args.size() == 1 && args[0] == "--functions";
    if (!args.empty() && !functions) return UsageError("caps takes no arguments but --functions");
    std::printf("%d\n", ctx.api->GetPackerCaps());
    if (functions)
        std::printf("%s\n", ctx.api->HasWideFunctions() ? "wide-character functions (any file name)"
                                                        : "ANSI functions (names in the system's code page)");
    return 0;
}

const char kCapsHelp[] =
    "Prints the flags that the plug-in's GetPackerCaps returns, as a decimal number:\n"
    "95 = create archives (1), add to them (2), several files (4), delete entries (8),\n"
    "options dialog (16), recognised by content (64). A quick check that the plug-in\n"
    "loads.\n"
    "\n"
    "The host uses the plug-in's wide-character functions (OpenArchiveW, ReadHeaderExW,\n"
    "ProcessFileW, PackFilesW, DeleteFilesW, ...) when it exports them and --ansi is not\n"
    "given: paths and names may then hold any character. Else it uses the ANSI ones, limited\n"
    "to the system's code page on Windows.\n"
    "\n"
    "options:\n"
    "  --functions  print a second line that says which of the two the host uses\n";

HostCommandRegistration registration({90, "caps", "[--functions]", "print the plug-in's capability flags (GetPackerCaps)", Caps,
                                      kCapsHelp});

} // namespace
