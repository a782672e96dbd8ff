#include "ReadingsCsv.h"

#include <chrono>
#include <cstdio>
#include <ctime>

std::int64_t WallClockOffsetNs() {
    using namespace std::chrono;
    const auto wall = duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count();
    return wall - SteadyNowNs();
}

std::string LocalTimeText(std::int64_t epochNs) {
    std::int64_t ms = epochNs / 1'000'000;
    if (epochNs < 0 && epochNs % 1'000'000 != 0)
        --ms;  // round towards the past
    std::int64_t seconds = ms / 1000;
    int milli = static_cast<int>(ms % 1000);
    if (milli < 0) {
        milli += 1000;
        --seconds;
    }
    const std::time_t when = static_cast<std::time_t>(seconds);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    char text[48];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec,
                  milli);
    return text;
}

std::string DegreesText(double degrees) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", degrees);
    return text;
}

bool WriteReadingsCsv(const std::function<bool(std::string_view)>& write,
                      const ReadingHistory& history, std::size_t first, std::size_t last,
                      std::int64_t wallOffsetNs) {
    constexpr std::size_t kPiece = 64 * 1024;
    std::string text = "time,pitch,roll,heading\n";
    for (std::size_t i = first; i < last && i < history.size(); ++i) {
        const StampedReading& r = history[i];
        text += LocalTimeText(r.ns + wallOffsetNs);
        text += ',';
        text += DegreesText(r.pitch);
        text += ',';
        text += DegreesText(r.roll);
        text += ',';
        text += DegreesText(r.heading);
        text += '\n';
        if (text.size() >= kPiece) {
            if (!write(text))
                return false;
            text.clear();
        }
    }
    return write(text);
}
