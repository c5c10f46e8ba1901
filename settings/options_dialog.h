// The options dialog, shown modally by ConfigurePacker.
#pragma once

#include "platform/platform.h"

void RunOptionsDialog(platform::WindowHandle parent, platform::ModuleHandle instance);
