// The process-data callback the host hands to the plug-in: a progress line on a terminal.
#pragma once

#include <cstdint>

#include "frame/wcx.h"

// Turns the display on or off (off when standard error is no terminal, or with --quiet).
void ConfigureProgress(bool enabled);
// Whether the line is shown: only then is a total worth the work of finding it.
bool ProgressShown();
// Starts the clock of the coming operation, which processes totalBytes in all (0 when the
// host cannot know); with a total the line shows a bar, bytes, the rate and the time left.
// The plug-in's byte counts add up to countedBytes, where they are not all it processes.
void SetProgressTotal(uint64_t totalBytes, uint64_t countedBytes);
inline void SetProgressTotal(uint64_t totalBytes) { SetProgressTotal(totalBytes, totalBytes); }
// The callback; always answers 1 (go on).
int KYR_CALL HostProgress(char* text, int count);
// The same for the plug-in's wide functions.
int KYR_CALL HostProgressW(WideChar* text, int count);
// Ends the current progress line, if one is shown.
void FinishProgress();
