// The process-data callback the host hands to the plug-in: a progress line on a terminal.
#pragma once

#include "frame/wcx.h"

// Turns the display on or off (off when standard error is no terminal, or with --quiet).
void ConfigureProgress(bool enabled);
// Bytes the coming operation is expected to report; with a total the line shows a bar.
void SetProgressTotal(long long totalBytes);
// The callback; always answers 1 (go on).
int KYR_CALL HostProgress(char* text, int count);
// The same for the plug-in's wide functions.
int KYR_CALL HostProgressW(WideChar* text, int count);
// Ends the current progress line, if one is shown.
void FinishProgress();
