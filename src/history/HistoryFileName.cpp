#include "history/HistoryFileName.h"

#include <QLocale>

#include <limits>

namespace quillet::HistoryFileName {

namespace {

constexpr QStringView prefix = u"Quillet ";

// Reads `count` decimal digits at `at`, or nothing when any is missing.
std::optional<int> digits(QStringView name, qsizetype at, qsizetype count) {
    if (at + count > name.size()) return std::nullopt;
    int value = 0;
    for (qsizetype i = at; i < at + count; ++i) {
        const char16_t c = name[i].unicode();
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c - u'0');
    }
    return value;
}

bool is(QStringView name, qsizetype at, char16_t c) { return at < name.size() && name[at].unicode() == c; }

}  // namespace

QString base(const QDateTime& createdAt, const QTimeZone& zone) {
    return prefix.toString() +
           QLocale::c().toString(createdAt.toTimeZone(zone), QStringLiteral("yyyy-MM-dd 'в' HH.mm.ss"));
}

QString make(const QDateTime& createdAt, const QTimeZone& zone) {
    return base(createdAt, zone) + QLatin1String(".png");
}

std::optional<Parts> parse(QStringView name) {
    if (!name.startsWith(prefix)) return std::nullopt;
    // "yyyy-MM-dd в HH.mm.ss" after the prefix, at fixed positions.
    const qsizetype p = prefix.size();
    const auto year = digits(name, p, 4), month = digits(name, p + 5, 2), day = digits(name, p + 8, 2);
    const auto hour = digits(name, p + 13, 2), minute = digits(name, p + 16, 2), second = digits(name, p + 19, 2);
    if (!(year && is(name, p + 4, u'-') && month && is(name, p + 7, u'-') && day && is(name, p + 10, u' ') &&
          is(name, p + 11, u'в') && is(name, p + 12, u' ') && hour && is(name, p + 15, u'.') && minute &&
          is(name, p + 18, u'.') && second)) {
        return std::nullopt;
    }
    Parts parts{*year, *month, *day, *hour, *minute, *second, std::nullopt};
    qsizetype at = p + 21;
    if (is(name, at, u' ')) {
        if (!is(name, at + 1, u'(')) return std::nullopt;
        at += 2;
        const qsizetype firstDigit = at;
        qint64 copy = 0;
        for (; at < name.size() && name[at] >= u'0' && name[at] <= u'9'; ++at) {
            const int digit = name[at].unicode() - u'0';
            copy = copy > (std::numeric_limits<qint64>::max() - digit) / 10 ? std::numeric_limits<qint64>::max()
                                                                               : copy * 10 + digit;
        }
        if (at == firstDigit || !is(name, at, u')')) return std::nullopt;
        ++at;
        parts.copy = copy;
    }
    if (name.size() != at + 4 || name.sliced(at) != QLatin1String(".png")) return std::nullopt;
    return parts;
}

QString firstFree(const QString& name, const std::function<bool(const QString&)>& taken) {
    if (!taken(name)) return name;
    const qsizetype dot = name.lastIndexOf(u'.');
    const QString stem = dot > 0 ? name.left(dot) : name;
    const QString extension = dot > 0 ? name.mid(dot) : QString();
    for (int k = 2;; ++k) {
        QString candidate = stem + QStringLiteral(" (%1)").arg(k) + extension;
        if (!taken(candidate)) return candidate;
    }
}

}  // namespace quillet::HistoryFileName
