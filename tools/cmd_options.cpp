#include <cstdio>
#include <fstream>
#include <string>

#include "settings/settings_store.h"
#include "tools/host.h"

namespace {

const char kOptionsHelp[] =
    "Opens the plug-in's options dialog (ConfigurePacker), as the file manager's configure\n"
    "button does. What the dialog saves goes to the settings file given with --ini (or\n"
    "KYRZBK_INI).\n"
    "\n"
    "Only the Windows builds have the dialog. Elsewhere the plug-in shows nothing; the\n"
    "command then prints the settings file in use and the plug-in's [KYRZBK_HLV] section in\n"
    "it, to be edited by hand.\n"
    "\n"
    "example:\n"
    "  kyrzbk --ini kyrzbk.ini options\n";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Trimmed(const std::string& s) {
    size_t first = 0, end = s.size();
    while (first < end && IsBlank(s[first])) ++first;
    while (end > first && IsBlank(s[end - 1])) --end;
    return s.substr(first, end - first);
}

// The plug-in takes a line's last character for the closing bracket, whatever it is.
bool IsSectionHeader(const std::string& trimmed, std::string* name) {
    if (trimmed.empty() || trimmed[0] != '[') return false;
    *name = Trimmed(trimmed.substr(1, trimmed.size() >= 2 ? trimmed.size() - 2 : 0));
    return true;
}

// Prints the first section of the plug-in's name, the one the plug-in reads.
void PrintSettingsFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::printf("settings file: %s (does not exist or cannot be read)\n"
                    "The plug-in uses its built-in defaults.\n",
                    path.c_str());
        return;
    }
    std::printf("settings file: %s\n", path.c_str());
    bool inSection = false, found = false;
    std::string blankLines; // held back until a line follows, so the section ends at its last line
    for (std::string line; std::getline(in, line);) {
        // The plug-in's lines end at the first CR or LF.
        line = line.substr(0, line.find('\r'));
        std::string name;
        if (IsSectionHeader(Trimmed(line), &name)) {
            if (inSection) break;
            inSection = name == kSettingsSection;
            found = found || inSection;
        }
        if (!inSection) continue;
        if (Trimmed(line).empty()) {
            blankLines += "\n";
        } else {
            std::printf("%s%s\n", blankLines.c_str(), line.c_str());
            blankLines.clear();
        }
    }
    if (!found) std::printf("It has no [%s] section: the plug-in uses its built-in defaults.\n", kSettingsSection);
}

int Options(HostContext& ctx, const std::vector<std::string>& args) {
    if (!args.empty()) return UsageError("options takes no arguments");
    ctx.api->ConfigurePacker(platform::ConsoleWindow(), ctx.api->Library());
    if (platform::HasDialogManager()) return 0;
    std::printf("The plug-in has no options dialog on this system; edit its settings file instead.\n");
    if (ctx.iniPath.empty())
        std::printf("No settings file in use: give one with --ini FILE or KYRZBK_INI.\n");
    else
        PrintSettingsFile(ctx.iniPath);
    return 0;
}

HostCommandRegistration registration({80, "options", "", "edit the plug-in's settings (ConfigurePacker)", Options,
                                      kOptionsHelp});

} // namespace
