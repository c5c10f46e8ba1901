#include "settings/options_dialog.h"

void RunOptionsDialog(platform::WindowHandle, platform::ModuleHandle) {}
