#include "tools/progress_line.h"

#include <algorithm>
#include <cstdio>

#include "frame/wcx.h"

void ProgressLine::Start(uint64_t totalBytes, uint64_t countedBytes, double now) {
    *this = ProgressLine();
    m_total = totalBytes;
    m_counted = countedBytes;
    m_start = now;
}

void ProgressLine::Report(const char* text, int count) {
    if (text && m_item != text) {
        m_item = text;
        m_itemPercent = -1;
    }
    if (count > 0) m_reported += static_cast<uint64_t>(count);
    else if (count <= kWholeOperationPercent && count >= kWholeOperationPercent - 100)
        m_percent = kWholeOperationPercent - count;
    // The current item's percentage says nothing of the whole, but shows that a long item
    // moves on.
    else if (count < 0 && count >= -100)
        m_itemPercent = -count;
}

bool ProgressLine::Due(double now) const { return m_drawnAt < 0 || now - m_drawnAt >= kRedrawSeconds; }

std::string ByteSize(uint64_t bytes) {
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB", "PiB"};
    if (bytes < 1024) return std::to_string(bytes) + " B";
    double value = static_cast<double>(bytes) / 1024;
    int unit = 0;
    while (value >= 1024 && unit < 4) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, value < 10 ? "%.2f %s" : value < 100 ? "%.1f %s" : "%.0f %s", value, units[unit]);
    return text;
}

std::string Duration(double seconds) {
    long long s = static_cast<long long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%lld:%02lld", s / 60, s % 60);
    return text;
}

namespace {

std::string Bar(double share) {
    constexpr int kBar = 12;
    int filled = static_cast<int>(share * kBar);
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(share * 100));
    return "[" + std::string(filled, '#') + std::string(kBar - filled, '-') + "] " + percent;
}

// The item's name in the room left: whole, else from its last folder on, else its end; the
// end of a path tells most.
std::string Shortened(const std::string& name, size_t room) {
    if (name.size() <= room) return name;
    size_t slash = name.find_last_of("/\\");
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    if (base.size() + 4 <= room) return ".../" + base;
    return room > 8 ? "..." + base.substr(base.size() - (room - 3)) : std::string();
}

void Append(std::string* line, const std::string& piece) {
    if (piece.empty()) return;
    if (!line->empty()) *line += "  ";
    *line += piece;
}

} // namespace

std::string ProgressLine::Text(double now) const {
    // Rates need a moment of history: the first reports of an operation say little.
    constexpr double kSettleSeconds = 1;
    const double elapsed = now - m_start;
    const bool shareKnown = m_percent >= 0 || m_total > 0;
    double share = m_percent >= 0 ? m_percent / 100.0 : m_counted > 0 ? double(m_reported) / double(m_counted) : 0;
    share = std::min(share, 1.0);
    // Operations that report percentages (updates, deletions), or count other bytes than
    // they process (an update counts the added files, and copies the kept entries too),
    // process the host's total in that share.
    uint64_t done = m_reported;
    if (m_percent >= 0 || m_counted != m_total) done = std::max(done, static_cast<uint64_t>(share * double(m_total)));
    if (m_total > 0) done = std::min(done, m_total);

    std::string line;
    if (shareKnown) Append(&line, Bar(share));
    if (m_total > 0) Append(&line, ByteSize(done) + " / " + ByteSize(m_total));
    else if (m_reported > 0 || !shareKnown) Append(&line, ByteSize(done));
    if (elapsed >= kSettleSeconds) {
        if (done > 0) Append(&line, ByteSize(static_cast<uint64_t>(double(done) / elapsed)) + "/s");
        if (share > 0 && share < 1) Append(&line, Duration(elapsed * (1 - share) / share) + " left");
    }
    std::string itemPercent = m_itemPercent >= 0 ? " " + std::to_string(m_itemPercent) + "%" : std::string();
    if (line.size() + 2 + itemPercent.size() < kWidth)
        Append(&line, Shortened(m_item, kWidth - line.size() - 2 - itemPercent.size()) + itemPercent);
    return line;
}
