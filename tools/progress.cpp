#include "tools/progress.h"

#include <chrono>
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "tools/plugin_text.h"
#include "tools/progress_line.h"

namespace {
bool g_enabled = false;
bool g_lineShown = false;
ProgressLine g_line;

double Now() { return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count(); }

void Draw(double now) {
    std::fprintf(stderr, "\r\033[K%s", g_line.Text(now).c_str());
    std::fflush(stderr);
    g_line.Drawn(now);
    g_lineShown = true;
}
} // namespace

void ConfigureProgress(bool enabled) { g_enabled = enabled && platform::IsTerminal(stderr); }

bool ProgressShown() { return g_enabled; }

void SetProgressTotal(uint64_t totalBytes, uint64_t countedBytes) { g_line.Start(totalBytes, countedBytes, Now()); }

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
    g_line.Report(text, count);
    double now = Now();
    if (g_line.Due(now)) Draw(now);
    return 1;
}

void FinishProgress() {
    if (g_lineShown) std::fprintf(stderr, "\r\033[K");
    g_lineShown = false;
    // The next report draws the line again at once, below what was printed meanwhile.
    g_line.Drawn(-1);
}

int KYR_CALL HostProgressW(WideChar* text, int count) { return ForwardWideText(HostProgress, text, count); }
