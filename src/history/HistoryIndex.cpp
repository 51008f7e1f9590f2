#include "history/HistoryIndex.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace quillet {

namespace {

// The index is rewritten on every add, so its bytes are put together directly rather than
// through a QJsonDocument (ten times faster for a long history). The output is byte for byte
// what QJsonDocument's compact form gives for the same record; a test holds the two together.

char hexDigit(int value) { return static_cast<char>(value < 10 ? '0' + value : 'a' + value - 10); }

void appendUnicodeEscape(QByteArray& out, char16_t u) {
    out += "\\u";
    out += hexDigit(u >> 12 & 0xf);
    out += hexDigit(u >> 8 & 0xf);
    out += hexDigit(u >> 4 & 0xf);
    out += hexDigit(u & 0xf);
}

void appendString(QByteArray& out, QStringView text) {
    out += '"';
    const qsizetype size = text.size();
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t u = text[i].unicode();
        if (u < 0x80) {
            if (u >= 0x20 && u != '"' && u != '\\') {
                out += static_cast<char>(u);
                continue;
            }
            out += '\\';
            switch (u) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '\b': out += 'b'; break;
            case '\f': out += 'f'; break;
            case '\n': out += 'n'; break;
            case '\r': out += 'r'; break;
            case '\t': out += 't'; break;
            default:
                out += "u00";
                out += hexDigit(u >> 4);
                out += hexDigit(u & 0xf);
            }
        } else if (u < 0x800) {
            out += static_cast<char>(0xc0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3f));
        } else if (QChar::isHighSurrogate(u) && i + 1 < size && text[i + 1].isLowSurrogate()) {
            const char32_t c = QChar::surrogateToUcs4(u, text[i + 1].unicode());
            ++i;
            out += static_cast<char>(0xf0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3f));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (c & 0x3f));
        } else if (QChar::isSurrogate(u)) {
            // A lone surrogate has no UTF-8 form.
            appendUnicodeEscape(out, u);
        } else {
            out += static_cast<char>(0xe0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3f));
            out += static_cast<char>(0x80 | (u & 0x3f));
        }
    }
    out += '"';
}

void appendTwoDigits(QByteArray& out, int value) {
    out += static_cast<char>('0' + value / 10);
    out += static_cast<char>('0' + value % 10);
}

// "2025-03-07T11:05:09Z", as isoDateString writes it, without going through QDateTime's
// formatter; days to a civil date after Howard Hinnant's algorithm.
void appendDate(QByteArray& out, const QDateTime& date) {
    const qint64 seconds = date.toSecsSinceEpoch();
    const qint64 days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    const qint64 secondOfDay = seconds - days * 86400;
    const qint64 z = days + 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 dayOfEra = z - era * 146097;
    const qint64 yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const qint64 dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const qint64 mp = (5 * dayOfYear + 2) / 153;
    const int day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const qint64 year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    if (year < 0 || year > 9999) {
        appendString(out, isoDateString(date));
        return;
    }
    out += '"';
    appendTwoDigits(out, static_cast<int>(year / 100));
    appendTwoDigits(out, static_cast<int>(year % 100));
    out += '-';
    appendTwoDigits(out, month);
    out += '-';
    appendTwoDigits(out, day);
    out += 'T';
    appendTwoDigits(out, static_cast<int>(secondOfDay / 3600));
    out += ':';
    appendTwoDigits(out, static_cast<int>(secondOfDay / 60 % 60));
    out += ':';
    appendTwoDigits(out, static_cast<int>(secondOfDay % 60));
    out += "Z\"";
}

void appendUuid(QByteArray& out, const QUuid& id) {
    out += '"';
    out += id.toByteArray(QUuid::WithoutBraces).toUpper();
    out += '"';
}

// Keys in sorted order: createdAt, fileName, id, kind, pixelSize, sourceID.
void appendScreenshot(QByteArray& out, const Screenshot& item) {
    out += "{\"createdAt\":";
    appendDate(out, item.createdAt);
    out += ",\"fileName\":";
    appendString(out, item.fileName);
    out += ",\"id\":";
    appendUuid(out, item.id);
    out += ",\"kind\":";
    appendString(out, rawValue(item.kind));
    out += ",\"pixelSize\":[";
    out += QByteArray::number(static_cast<qint64>(item.pixelSize.width));
    out += ',';
    out += QByteArray::number(static_cast<qint64>(item.pixelSize.height));
    out += ']';
    if (item.sourceID) {
        out += ",\"sourceID\":";
        appendUuid(out, *item.sourceID);
    }
    out += '}';
}

// A forgiving walk over the index text: finds where each value starts and ends without
// building a document for the whole file.
class Scanner {
public:
    explicit Scanner(const QByteArray& bytes) : text(bytes.constData()), size(bytes.size()) {}

    qsizetype at = 0;

    void skipSpace() {
        while (at < size && (text[at] == ' ' || text[at] == '\n' || text[at] == '\r' || text[at] == '\t')) ++at;
    }
    bool take(char c) {
        skipSpace();
        if (at >= size || text[at] != c) return false;
        ++at;
        return true;
    }
    bool atEnd() {
        skipSpace();
        return at >= size;
    }
    char peek() {
        skipSpace();
        return at < size ? text[at] : '\0';
    }
    // The string starting here, undecoded (keys are plain ASCII); none when cut off.
    std::optional<QByteArray> string() {
        skipSpace();
        if (at >= size || text[at] != '"') return std::nullopt;
        const qsizetype start = ++at;
        for (; at < size; ++at) {
            if (text[at] == '\\') {
                ++at;
            } else if (text[at] == '"') {
                return QByteArray(text + start, at++ - start);
            }
        }
        return std::nullopt;
    }
    // Steps over one value of any kind and gives its text; none when the text ends first or
    // brackets do not match.
    std::optional<QByteArray> value() {
        skipSpace();
        const qsizetype start = at;
        if (at >= size) return std::nullopt;
        if (text[at] == '"') {
            if (!string()) return std::nullopt;
            return QByteArray(text + start, at - start);
        }
        if (text[at] == '{' || text[at] == '[') {
            QByteArray open;  // the brackets still open, innermost last
            for (; at < size; ++at) {
                const char c = text[at];
                if (c == '"') {
                    if (!string()) return std::nullopt;
                    --at;
                } else if (c == '{' || c == '[') {
                    open.append(c == '{' ? '}' : ']');
                } else if (c == '}' || c == ']') {
                    if (open.isEmpty() || open.back() != c) return std::nullopt;
                    open.chop(1);
                    if (open.isEmpty()) return QByteArray(text + start, ++at - start);
                }
            }
            return std::nullopt;
        }
        while (at < size && text[at] != ',' && text[at] != '}' && text[at] != ']' && text[at] != ' ' &&
               text[at] != '\n' && text[at] != '\r' && text[at] != '\t') {
            ++at;
        }
        return at > start ? std::optional(QByteArray(text + start, at - start)) : std::nullopt;
    }

private:
    const char* text;
    qsizetype size;
};

std::optional<Screenshot> entry(const QByteArray& text) {
    const QJsonDocument document = QJsonDocument::fromJson(text);
    if (!document.isObject()) return std::nullopt;
    auto screenshot = screenshotFromJson(document.object());
    if (!screenshot) return std::nullopt;
    return std::move(*screenshot);
}

}  // namespace

HistoryIndex::Salvaged HistoryIndex::salvage(const QByteArray& bytes) {
    Salvaged result;
    Scanner scan(bytes);
    bool complete = false;
    bool sawItems = false;
    std::optional<QByteArray> version;
    // The entries are kept as they are read: a file cut off in the middle keeps everything
    // before the cut.
    auto readItems = [&] {
        if (!scan.take('[')) return false;
        if (scan.take(']')) return true;
        for (;;) {
            const auto text = scan.value();
            if (!text) return false;
            if (auto screenshot = entry(*text)) {
                result.items.append(std::move(*screenshot));
            } else {
                result.damaged = true;
            }
            if (scan.take(']')) return true;
            if (!scan.take(',')) return false;
        }
    };
    [&] {
        if (!scan.take('{')) return;
        if (scan.take('}')) {
            complete = true;
            return;
        }
        for (;;) {
            const auto key = scan.string();
            if (!key || !scan.take(':')) return;
            if (*key == "items" && !sawItems) {
                sawItems = true;
                if (!readItems()) return;
            } else if (*key == "version") {
                version = scan.value();
                if (!version) return;
            } else if (!scan.value()) {
                return;
            }
            if (scan.take('}')) {
                complete = scan.atEnd();
                return;
            }
            if (!scan.take(',')) return;
        }
    }();
    result.items.squeeze();
    if (!complete) {
        result.damaged = true;
        return result;
    }
    // A whole file without both keys, or of another version, is not ours to read.
    bool isNumber = false;
    const double versionNumber = version ? version->trimmed().toDouble(&isNumber) : 0;
    if (!sawItems || !isNumber || versionNumber != static_cast<double>(currentVersion)) {
        result.items.clear();
        result.damaged = true;
    }
    return result;
}

QByteArray HistoryIndex::encoded() const {
    QByteArray out;
    out.reserve(32 + items.size() * 200);
    out += "{\"items\":[";
    for (qsizetype i = 0; i < items.size(); ++i) {
        if (i > 0) out += ',';
        appendScreenshot(out, items[i]);
    }
    out += "],\"version\":";
    out += QByteArray::number(static_cast<qint64>(version));
    out += '}';
    return out;
}

Decoded<HistoryIndex> HistoryIndex::decode(const QByteArray& bytes) {
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError) return unexpected(DecodingError{parseError.errorString()});
    if (!document.isObject()) return unexpected(DecodingError{QStringLiteral("Expected to decode Dictionary.")});
    const QJsonObject object = document.object();
    if (!object.contains(QStringLiteral("items"))) {
        return unexpected(DecodingError{QStringLiteral("No value associated with key \"items\".")});
    }
    if (!object.contains(QStringLiteral("version"))) {
        return unexpected(DecodingError{QStringLiteral("No value associated with key \"version\".")});
    }
    const QJsonValue version = object.value(QStringLiteral("version"));
    if (!version.isDouble() || version.toDouble() != static_cast<double>(currentVersion)) {
        return unexpected(DecodingError{QStringLiteral("Unsupported index version.")});
    }
    const QJsonValue items = object.value(QStringLiteral("items"));
    if (!items.isArray()) return unexpected(DecodingError{QStringLiteral("Expected to decode Array.")});

    HistoryIndex index;
    const QJsonArray array = items.toArray();
    index.items.reserve(array.size());
    for (const QJsonValue& value : array) {
        auto screenshot = screenshotFromJson(value);
        if (!screenshot) return unexpected(screenshot.error());
        index.items.append(std::move(*screenshot));
    }
    return index;
}

}  // namespace quillet
