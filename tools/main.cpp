#include "tools/host.h"

#include "platform/platform.h"

int main(int argc, char** argv) {
    // The host works in UTF-8 throughout: its arguments, its own file access, and the text
    // it hands to the plug-in's wide functions.
    platform::WideTextScope utf8;
    return RunHost(platform::ProgramArguments(argc, argv));
}
