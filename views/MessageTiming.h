#pragma once

#include <QString>
#include <algorithm>
#include <chrono>

// How long a message stays on screen. A message of a few words keeps the time
// its place gives it; a longer one, such as the service's word on approving
// this machine, gets about 60 ms a character more, so that it can be read,
// but never more than 10 s.
namespace MessageTiming {

inline constexpr qsizetype fewWords = 3;
inline constexpr std::chrono::milliseconds perCharacter{60};
inline constexpr std::chrono::milliseconds longest{10000};

inline bool needsReadingTime(const QString &message)
{
    return message.split(QLatin1Char(' '), Qt::SkipEmptyParts).size() > fewWords;
}

inline std::chrono::milliseconds showTime(const QString &message, std::chrono::milliseconds base)
{
    if (!needsReadingTime(message))
        return base;
    const std::chrono::milliseconds reading = base + perCharacter * qint64(message.size());
    return std::clamp(reading, base, std::max(base, longest));
}

} // namespace MessageTiming
