#include "tools/progress.h"

#include <cstdio>
#include <string>

namespace {
bool g_enabled = false;
bool g_lineShown = false;
std::string g_item;
long long g_bytes = 0;
} // namespace

void ConfigureProgress(bool enabled) { g_enabled = enabled && platform::IsTerminal(stderr); }

int KYR_CALL HostProgress(char* text, int count) {
    if (!g_enabled) return 1;
    if (text && g_item != text) {
        g_item = text;
        g_bytes = 0;
    }
    if (count > 0) g_bytes += count;
    std::string item = g_item.size() > 50 ? "..." + g_item.substr(g_item.size() - 47) : g_item;
    std::fprintf(stderr, "\r\033[K%-50s %12lld bytes", item.c_str(), g_bytes);
    std::fflush(stderr);
    g_lineShown = true;
    return 1;
}

void FinishProgress() {
    if (g_lineShown) std::fprintf(stderr, "\r\033[K");
    g_lineShown = false;
    g_item.clear();
    g_bytes = 0;
}
