// The text of the host's progress line: a bar of the whole operation's share, bytes done and
// in all, the rate and the time left, from the plug-in's reports and the byte total the host
// knows. The clock is handed in, so that the text depends on reports, sizes and time alone.
#pragma once

#include <cstdint>
#include <string>

class ProgressLine {
public:
    // A new operation that will process totalBytes in all (0 when the host cannot know),
    // of which the plug-in's byte counts add up to countedBytes.
    void Start(uint64_t totalBytes, uint64_t countedBytes, double now);
    // One report as the plug-in makes it: a positive count is bytes done since the last one,
    // -1000 to -1100 the whole operation's percentage, -1 to -100 the current item's; a
    // text names the current item.
    void Report(const char* text, int count);
    // Whether the line should be drawn again: the plug-in reports every KiB, a terminal
    // needs a few lines a second.
    bool Due(double now) const;
    void Drawn(double now) { m_drawnAt = now; }
    // The line, at most kWidth columns: the item's name is shortened to the room left.
    std::string Text(double now) const;

    static constexpr size_t kWidth = 79;
    static constexpr double kRedrawSeconds = 0.2;

private:
    uint64_t m_total = 0;
    uint64_t m_counted = 0;
    uint64_t m_reported = 0; // sum of the positive counts
    int m_percent = -1;      // the whole operation's, once the plug-in gives one
    int m_itemPercent = -1;  // the current item's, once the plug-in gives one
    std::string m_item;
    double m_start = 0;
    double m_drawnAt = -1;
};

// 1536 as "1.50 KiB", 5 GiB as "5.00 GiB": three digits at most, binary units.
std::string ByteSize(uint64_t bytes);
// Seconds as "0:07", "12:34" or "1:02:03".
std::string Duration(double seconds);
