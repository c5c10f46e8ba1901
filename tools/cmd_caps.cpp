#include <cstdio>

#include "tools/host.h"

namespace {

int Caps(HostContext& ctx, const std::vector<std::string>& args) {
    if (!args.empty()) return UsageError("caps takes no arguments");
    std::printf("%d\n", ctx.api->GetPackerCaps());
    return 0;
}

HostCommandRegistration registration({90, "caps", "", "print the plug-in's capability flags (GetPackerCaps)", Caps});

} // namespace
