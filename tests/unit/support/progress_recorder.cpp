#include "tests/unit/support/progress_recorder.h"

#include <thread>

std::vector<ProgressCall> g_calls;
int g_abortAtCall = 0;
std::function<void(const std::string&)> g_onCall;
int g_foreignThreadCalls = 0;

namespace {
std::thread::id g_callingThread = std::this_thread::get_id();
}

void StartRecording() {
    g_calls.clear();
    g_foreignThreadCalls = 0;
    g_callingThread = std::this_thread::get_id();
}

int KYR_CALL Recorder(char* text, int count) {
    if (std::this_thread::get_id() != g_callingThread) ++g_foreignThreadCalls;
    g_calls.push_back({text ? text : "<null>", count});
    if (g_onCall) g_onCall(text ? text : "");
    return static_cast<int>(g_calls.size()) == g_abortAtCall ? 0 : 1;
}
