#include "tools/progress.h"

#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "tools/plugin_text.h"

namespace {
bool g_enabled = false;
bool g_lineShown = false;
std::string g_item;
long long g_bytes = 0;
long long g_total = 0;
long long g_done = 0;
int g_percent = -1; // of the whole operation, once the plug-in reports one

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
    g_percent = -1;
}

namespace {

// For the tests that make two changes of one archive meet: every report is appended to the
// file KYRZBK_TEST_PROGRESS_LOG names, and the first one is held until the file that
// KYRZBK_TEST_HOLD names exists (at most two minutes).
void TestHooks(const char* text) {
    static const std::string log = platform::EnvironmentValue("KYRZBK_TEST_PROGRESS_LOG");
    static std::string hold = platform::EnvironmentValue("KYRZBK_TEST_HOLD");
    if (!log.empty()) {
        if (FILE* f = platform::OpenFile(log.c_str(), "ab")) {
            std::fprintf(f, "%s\n", text ? text : "<null>");
            std::fclose(f);
        }
    }
    for (int waited = 0; !hold.empty() && waited < 120000; waited += 20) {
        if (FILE* f = platform::OpenFile(hold.c_str(), "rb")) {
            std::fclose(f);
            break;
        }
        platform::SleepMilliseconds(20);
    }
    hold.clear();
}

} // namespace

int KYR_CALL HostProgress(char* text, int count) {
    TestHooks(text);
    if (!g_enabled) return 1;
    if (text && g_item != text) {
        g_item = text;
        g_bytes = 0;
    }
    // Positive counts are bytes; -1000 to -1100 give the whole operation's percentage
    // (-1 to -100, the current item's, the line does not show).
    if (count > 0) {
        g_bytes += count;
        g_done += count;
    } else if (count <= kWholeOperationPercent && count >= kWholeOperationPercent - 100) {
        g_percent = kWholeOperationPercent - count;
    }
    std::string item = g_item.size() > 40 ? "..." + g_item.substr(g_item.size() - 37) : g_item;
    if (g_percent >= 0)
        std::fprintf(stderr, "\r\033[K%s %-40s", Bar(g_percent, 100).c_str(), item.c_str());
    else if (g_total > 0)
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
    g_percent = -1;
}

int KYR_CALL HostProgressW(WideChar* text, int count) { return ForwardWideText(HostProgress, text, count); }
