// The command-line host: options shared by all commands, and the command table.
#pragma once

#include <string>
#include <vector>

#include "tools/plugin_api.h"

struct HostContext {
    PluginApi* api = nullptr;
    std::string pluginPath;
    std::string iniPath;
    bool quiet = false;
    bool ansiOnly = false; // --ansi: the plug-in's ANSI functions even where it has wide ones
};

using CommandFn = int (*)(HostContext& ctx, const std::vector<std::string>& args);

struct HostCommand {
    int order;           // place in the help listing
    const char* name;
    const char* usage;   // arguments after the command name
    const char* summary; // one line for --help
    CommandFn run;
    const char* help = nullptr; // longer text for COMMAND --help, or null
};

// Each command file registers its commands with a static HostCommandRegistration.
struct HostCommandRegistration {
    explicit HostCommandRegistration(const HostCommand& command);
};

// All registered commands, in help order.
const std::vector<HostCommand>& HostCommands();

// Prints the one-line failure message and returns the code as the exit status.
int ReportFailure(const std::string& file, int code);
// Prints a usage error and returns the exit status for it.
int UsageError(const std::string& message);

// Writable, NUL-terminated copies of arguments for the plug-in's char* parameters.
std::vector<char> CStringArg(const std::string& s);

// Runs the host with command-line arguments (program name first, UTF-8); returns the exit status.
int RunHost(const std::vector<std::string>& argv);

constexpr int kUsageExitStatus = 2;
