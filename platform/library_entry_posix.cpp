#include "frame/exports.h"

// The POSIX counterpart of the Windows process-detach notification.
__attribute__((destructor)) static void LibraryUnload() { OnPluginUnload(); }
