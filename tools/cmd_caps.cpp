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
    "With --functions a second line says which functions the host uses: the wide-character\n"
    "ones (OpenArchiveW, ReadHeaderExW, ProcessFileW, PackFilesW, DeleteFilesW, ...) when the\n"
    "plug-in exports them and --ansi is not given, through which paths and names may hold any\n"
    "character; else the ANSI ones, limited to the system's code page.\n";

HostCommandRegistration registration({90, "caps", "[--functions]", "print the plug-in's capability flags (GetPackerCaps)", Caps,
                                      kCapsHelp});

} // namespace
