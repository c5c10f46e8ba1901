// Runs the built command-line host with the built plug-in, as a user's script would.
#pragma once

#include <string>
#include <vector>

struct HostRun {
    int status = -1;
    std::string out;
    std::string err;
};

// Paths of the plug-in and host under test; KYRZBK_TEST_PLUGIN and KYRZBK_TEST_HOST
// in the environment override the built-in ones.
std::string TestPluginPath();
std::string TestHostPath();

// Runs the host with --plugin set to the plug-in under test (unless args choose one),
// in workDir when given.
HostRun RunHostCommand(const std::vector<std::string>& args, const std::string& workDir = "");

// An archive name ('\\' separators) as the host shows it.
std::string HostName(std::string archiveName);
// The lines of a command's output, without line ends.
std::vector<std::string> Lines(const std::string& text);
