#include "history/HistoryTimes.h"

#include <QDateTime>
#include <algorithm>

namespace chatterly {
namespace {

QDateTime localTime(int64_t ms) {
    return QDateTime::fromMSecsSinceEpoch(ms, Qt::LocalTime);
}

}  // namespace

QString HistoryTimes::describe(int64_t timeMs, int64_t nowMs) {
    const QDateTime time = localTime(timeMs);
    const QDate today = localTime(nowMs).date();
    const QString clock = time.toString(QStringLiteral("HH:mm"));
    if (time.date() == today) {
        return clock;
    }
    if (time.date() == today.addDays(-1)) {
        return QStringLiteral("yesterday ") + clock;
    }
    // Older, or after now (a clock set back): the whole date, never a guess.
    return time.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString HistoryTimes::playingTime(int64_t playingMs) {
    const int64_t seconds = (std::max<int64_t>(playingMs, 0) + 500) / 1000;
    const int64_t hours = seconds / 3600;
    const auto twoDigits = [](int64_t n) {
        return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
    };
    if (hours > 0) {
        return QString::number(hours) + QLatin1Char(':') + twoDigits(seconds / 60 % 60) +
               QLatin1Char(':') + twoDigits(seconds % 60);
    }
    return QString::number(seconds / 60) + QLatin1Char(':') + twoDigits(seconds % 60);
}

QString HistoryTimes::fileStamp(int64_t timeMs) {
    // No ':' in a file name: other systems the copy may travel to refuse it.
    return localTime(timeMs).toString(QStringLiteral("yyyy-MM-dd HH-mm"));
}

}  // namespace chatterly
