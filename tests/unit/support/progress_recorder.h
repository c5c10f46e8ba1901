// A host's progress callback that keeps what it is told, for the tests of packing: the texts
// and counts in order, a stop answered at a chosen call, a hook run at each call, and the
// calls that came from a thread other than the one that started recording.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "frame/wcx.h"

struct ProgressCall {
    std::string text; // "<null>" for a null text
    int count;
    bool operator==(const ProgressCall& o) const { return text == o.text && count == o.count; }
};

extern std::vector<ProgressCall> g_calls;
extern int g_abortAtCall;                                // 1-based; 0 never aborts
extern std::function<void(const std::string&)> g_onCall; // with the call's text ("" for null)
extern int g_foreignThreadCalls;

// Forgets the calls so far and takes this thread as the one the calls must come from.
void StartRecording();

int KYR_CALL Recorder(char* text, int count);
