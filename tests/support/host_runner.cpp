#include "tests/support/host_runner.h"

#include <cstdlib>
#include <filesystem>

#include "platform/platform.h"
#include "tests/support/temp_dir.h"

#ifndef KYRZBK_TEST_PLUGIN
#define KYRZBK_TEST_PLUGIN ""
#endif
#ifndef KYRZBK_TEST_HOST
#define KYRZBK_TEST_HOST ""
#endif

namespace {

class WorkingFolder {
public:
    explicit WorkingFolder(const std::string& dir) {
        if (dir.empty()) return;
        m_previous = std::filesystem::current_path();
        std::filesystem::current_path(dir);
    }
    ~WorkingFolder() {
        std::error_code ec;
        if (!m_previous.empty()) std::filesystem::current_path(m_previous, ec);
    }
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

private:
    std::filesystem::path m_previous;
};

std::string FromEnv(const char* name, const char* fallback) {
    const char* v = std::getenv(name);
    return v && *v ? v : fallback;
}
} // namespace

std::string TestPluginPath() { return FromEnv("KYRZBK_TEST_PLUGIN", KYRZBK_TEST_PLUGIN); }
std::string TestHostPath() { return FromEnv("KYRZBK_TEST_HOST", KYRZBK_TEST_HOST); }

HostRun RunHostCommand(const std::vector<std::string>& args, const std::string& workDir) {
    TempDir scratch;
    std::string outFile = scratch.File("stdout.txt");
    std::string errFile = scratch.File("stderr.txt");
    std::string line = platform::QuoteArgument(TestHostPath());
    bool pluginGiven = false;
    for (const std::string& a : args) pluginGiven |= a == "--plugin";
    if (!pluginGiven) line += " --plugin " + platform::QuoteArgument(TestPluginPath());
    for (const std::string& a : args) line += " " + platform::QuoteArgument(a);
    line += " >" + platform::QuoteArgument(outFile) + " 2>" + platform::QuoteArgument(errFile);
    HostRun run;
    {
        // The child inherits the folder; a "cd" in the command line would not switch
        // drives on Windows.
        WorkingFolder here(workDir);
        run.status = platform::RunCommandLine(line);
        // "No such command" from the shell (127 from sh, 9009 from cmd) for a host that is
        // there: under wine on a loaded machine, cmd now and then fails to start a program.
        // The host has not run, so it is started once more.
        if ((run.status == 127 || run.status == 9009) && FileExists(TestHostPath()))
            run.status = platform::RunCommandLine(line);
    }
    run.out = FileExists(outFile) ? ReadFileText(outFile) : "";
    run.err = FileExists(errFile) ? ReadFileText(errFile) : "";
    return run;
}

std::string HostName(std::string archiveName) {
    for (char& c : archiveName)
        if (c == '\\') c = platform::HostSeparator();
    return archiveName;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = text.substr(start, nl - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}
