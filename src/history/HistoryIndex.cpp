#include "history/HistoryIndex.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace quillet {

QByteArray HistoryIndex::encoded() const {
    // QJsonObject keeps its keys sorted, so the compact form has them in order, also inside
    // every screenshot.
    QJsonArray array;
    for (const Screenshot& item : items) array.append(toJson(item));
    const QJsonObject object{{QStringLiteral("items"), array}, {QStringLiteral("version"), static_cast<qint64>(version)}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
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
