#include <algorithm>

#include "tools/host.h"

namespace {
std::vector<HostCommand>& Registry() {
    static std::vector<HostCommand> commands;
    return commands;
}
} // namespace

HostCommandRegistration::HostCommandRegistration(const HostCommand& command) {
    auto& commands = Registry();
    commands.push_back(command);
    std::stable_sort(commands.begin(), commands.end(),
                     [](const HostCommand& a, const HostCommand& b) { return a.order < b.order; });
}

const std::vector<HostCommand>& HostCommands() { return Registry(); }
