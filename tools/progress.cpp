#include "tools/progress.h"

#include <cstdio>
#include <cstring>
#include <string>

namespace {
bool g_enabled = false;
bool g_lineShown = false;
std::string g_item;
long long g_bytes = 0;
long long g_total = 0;
long long g_done = 0;

// Texts such as "Verifying extracted data ..." announce a step; their counts repeat bytes
// already reported for the entry and are not progress.
bool IsStatusText(const char* text) {
    size_t n = std::strlen(text);
    return n >= 3 && std::strcmp(text + n - 3, "...") == 0;
}

std::string Bar(long long done, long long total) {
    constexpr int kWidth = 24;
    if (done > total) done = total;
    int filled = static_cast<int>(done * kWidth / total);
    int percent = static_cast<int>(done * 100 / total);
    return "[" + std::string(filled, '#') + std::string(kWidth - filled, '-') + "] " + std::to_string(percent) + "%";
}
} // namespace

void ConfigureProgress(bool enabled) { g_enabled = enabled && platform::IsTerminal(stderr); }

void SetProgressTotal(long long totalBytes) {
    g_total = totalBytes > 0 ? totalBytes : 0;
    g_done = 0;
}

int KYR_CALL HostProgress(char* text, int count) {
    if (!g_enabled) return 1;
    if (text && g_item != text) {
        g_item = text;
        g_bytes = 0;
    }
    if (count > 0 && !(text && IsStatusText(text))) {
        g_bytes += count;
        g_done += count;
    }
    std::string item = g_item.size() > 40 ? "..." + g_item.substr(g_item.size() - 37) : g_item;
    if (g_total > 0)
        std::fprintf(stderr, "\r\033[K%s %-40s %12lld bytes", Bar(g_done, g_total).c_str(), item.c_str(), g_bytes);
    else
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
    g_total = 0;
    g_done = 0;
}
