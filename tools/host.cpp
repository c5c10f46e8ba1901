#include "tools/host.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kyrzbk_version.h"
#include "tools/progress.h"

int ReportFailure(const std::string& file, int code) {
    std::fprintf(stderr, "kyrzbk: %s: error %d %s (%s)\n", file.c_str(), code, ResultCodeName(code),
                 ResultCodeMeaning(code));
    return code;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "kyrzbk: %s (see kyrzbk --help)\n", message.c_str());
    return kUsageExitStatus;
}

std::vector<char> CStringArg(const std::string& s) {
    std::vector<char> v(s.begin(), s.end());
    v.push_back(0);
    return v;
}

namespace {

void PrintHelp() {
    std::printf("usage: kyrzbk [--plugin PATH] [--ini FILE] [--quiet] COMMAND [ARGS...]\n"
                "       kyrzbk COMMAND --help\n"
                "       kyrzbk --version\n\n"
                "Drives the kyrzbk packer plug-in through its exported functions, as the file manager does:\n"
                "through its wide-character functions when it exports them (any file name), else\n"
                "through the ANSI ones (names in the system's code page only).\n\n"
                "options:\n"
                "  --plugin PATH  plug-in binary to load (default: %s beside this program)\n"
                "  --ini FILE     settings file handed to the plug-in, as the file manager hands over\n"
                "                 its own (default: $KYRZBK_INI, else none: built-in defaults)\n"
                "  --quiet, -q    no progress display (also accepted after the command name)\n"
                "  --ansi         use the plug-in's ANSI functions even where it has wide ones, as an\n"
                "                 older file manager does\n"
                "  --version      print the version and exit\n"
                "  --help, -h     print this help and exit\n\n"
                "commands:\n",
                platform::PluginFileName());
    for (const HostCommand& c : HostCommands()) std::printf("  %-8s %-32s %s\n", c.name, c.usage, c.summary);
    std::printf("\nExit status: 0 on success; on failure the plug-in's result code, e.g. 12 damaged data,\n"
                "13 checksum mismatch, 14 unknown format, 15 cannot open, 18 read error (10-24, see\n"
                "the user guide); 2 for usage errors.\n");
}

void PrintCommandHelp(const HostCommand& command) {
    std::printf("usage: kyrzbk [options] %s%s%s\n  %s\n", command.name, *command.usage ? " " : "", command.usage,
                command.summary);
    if (command.help) std::printf("\n%s", command.help);
}

const HostCommand* FindCommand(const std::string& name) {
    for (const HostCommand& c : HostCommands())
        if (name == c.name) return &c;
    return nullptr;
}

} // namespace

int RunHost(const std::vector<std::string>& argv) {
    int argc = static_cast<int>(argv.size());
    platform::UseBinaryStandardStreams();
    HostContext ctx;
    ctx.pluginPath = platform::ExecutableDirectory() + "/" + platform::PluginFileName();
    if (const char* ini = std::getenv("KYRZBK_INI")) ctx.iniPath = ini;
    int i = 1;
    for (; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--version") {
            std::printf("kyrzbk %s\n", KYRZBK_VERSION);
            return 0;
        } else if (arg == "--help" || arg == "-h") {
            PrintHelp();
            return 0;
        } else if (arg == "--quiet" || arg == "-q") {
            ctx.quiet = true;
        } else if (arg == "--ansi") {
            ctx.ansiOnly = true;
        } else if ((arg == "--plugin" || arg == "--ini") && i + 1 < argc) {
            (arg == "--plugin" ? ctx.pluginPath : ctx.iniPath) = argv[++i];
        } else if (arg.size() > 1 && arg[0] == '-') {
            return UsageError("unknown option " + arg);
        } else {
            break;
        }
    }
    if (i >= argc) return UsageError("no command given");
    const HostCommand* command = FindCommand(argv[i]);
    if (!command) return UsageError("unknown command " + argv[i]);
    std::vector<std::string> args;
    for (int k = i + 1; k < argc; ++k) {
        std::string a = argv[k];
        if (a == "--help" || a == "-h") {
            PrintCommandHelp(*command);
            return 0;
        }
        // Scripts tend to add it at the end; every command takes it there.
        if (a == "--quiet" || a == "-q") ctx.quiet = true;
        else args.push_back(a);
    }

    PluginApi api;
    std::string error;
    if (!api.Load(ctx.pluginPath, &error)) {
        std::fprintf(stderr, "kyrzbk: %s\n", error.c_str());
        return E_EOPEN;
    }
    if (ctx.ansiOnly) api.UseAnsiOnly();
    api.SetDefaultParams(ctx.iniPath);
    ctx.api = &api;
    ConfigureProgress(!ctx.quiet);
    return command->run(ctx, args);
}
