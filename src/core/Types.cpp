#include "core/Types.h"

#include <QJsonArray>
#include <QJsonObject>

#include <cmath>

namespace quillet {

namespace {

template <class E, std::size_t N>
QString rawOf(E value, const std::array<const char*, N>& names) {
    return QString::fromLatin1(names[static_cast<std::size_t>(value)]);
}

template <class E, std::size_t N>
std::optional<E> fromRaw(const QString& raw, const std::array<const char*, N>& names) {
    for (std::size_t i = 0; i < N; ++i) {
        if (raw == QLatin1String(names[i])) return static_cast<E>(i);
    }
    return std::nullopt;
}

constexpr std::array<const char*, 4> modifierKeyNames{"control", "option", "command", "shift"};
constexpr std::array<const char*, 3> keySideNames{"any", "left", "right"};
constexpr std::array<const char*, 3> captureKindNames{"region", "window", "fullScreen"};
constexpr std::array<const char*, 4> screenshotKindNames{"region", "window", "fullScreen", "edited"};

DecodingError missingKey(const char* key) {
    return {QStringLiteral("No value associated with key \"%1\".").arg(QLatin1String(key))};
}

DecodingError typeMismatch(const QString& what) {
    return {QStringLiteral("Expected to decode %1.").arg(what)};
}

std::optional<std::int64_t> integerOf(const QJsonValue& value) {
    if (!value.isDouble()) return std::nullopt;
    const double number = value.toDouble();
    if (std::trunc(number) != number) return std::nullopt;
    return value.toInteger();
}

template <class E>
Decoded<E> enumFromJson(const QJsonValue& json, std::optional<E> (*parse)(const QString&), const char* type) {
    if (!json.isString()) return unexpected(typeMismatch(QStringLiteral("String")));
    if (auto value = parse(json.toString())) return *value;
    return unexpected(DecodingError{QStringLiteral("Cannot initialize %1 from invalid String value %2")
                                        .arg(QLatin1String(type), json.toString())});
}

}  // namespace

QString rawValue(ModifierKey key) { return rawOf(key, modifierKeyNames); }
QString rawValue(KeySide side) { return rawOf(side, keySideNames); }
QString rawValue(CaptureKind kind) { return rawOf(kind, captureKindNames); }
QString rawValue(ScreenshotKind kind) { return rawOf(kind, screenshotKindNames); }

std::optional<ModifierKey> modifierKeyFromRaw(const QString& raw) { return fromRaw<ModifierKey>(raw, modifierKeyNames); }
std::optional<KeySide> keySideFromRaw(const QString& raw) { return fromRaw<KeySide>(raw, keySideNames); }
std::optional<CaptureKind> captureKindFromRaw(const QString& raw) { return fromRaw<CaptureKind>(raw, captureKindNames); }
std::optional<ScreenshotKind> screenshotKindFromRaw(const QString& raw) {
    return fromRaw<ScreenshotKind>(raw, screenshotKindNames);
}

ScreenshotKind screenshotKind(CaptureKind kind) {
    switch (kind) {
    case CaptureKind::region: return ScreenshotKind::region;
    case CaptureKind::window: return ScreenshotKind::window;
    case CaptureKind::fullScreen: return ScreenshotKind::fullScreen;
    }
    return ScreenshotKind::region;
}

bool Trigger::overlaps(const Trigger& other) const {
    return key == other.key && (side == KeySide::any || other.side == KeySide::any || side == other.side);
}

QString uuidString(const QUuid& id) { return id.toString(QUuid::WithoutBraces).toUpper(); }

std::optional<QUuid> uuidFromString(const QString& text) {
    // Only the bare 36-character form: no braces, no URN prefix.
    if (text.size() != 36) return std::nullopt;
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != QLatin1String("00000000-0000-0000-0000-000000000000")) return std::nullopt;
    return id;
}

QString isoDateString(const QDateTime& date) {
    return date.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) + QLatin1Char('Z');
}

std::optional<QDateTime> dateFromIsoString(const QString& text) {
    QDateTime date = QDateTime::fromString(text, Qt::ISODate);
    // A date without a zone would silently be read as local time; the stored form always has one.
    if (!date.isValid() || date.timeSpec() == Qt::LocalTime) return std::nullopt;
    date = date.toUTC();
    date.setTime(QTime(date.time().hour(), date.time().minute(), date.time().second()));
    return date;
}

QJsonValue toJson(ModifierKey key) { return rawValue(key); }
QJsonValue toJson(KeySide side) { return rawValue(side); }
QJsonValue toJson(CaptureKind kind) { return rawValue(kind); }
QJsonValue toJson(ScreenshotKind kind) { return rawValue(kind); }

QJsonValue toJson(const Trigger& trigger) {
    return QJsonObject{{QStringLiteral("key"), rawValue(trigger.key)}, {QStringLiteral("side"), rawValue(trigger.side)}};
}

QJsonValue toJson(const PixelSize& size) {
    return QJsonArray{static_cast<qint64>(size.width), static_cast<qint64>(size.height)};
}

QJsonValue toJson(const Screenshot& screenshot) {
    QJsonObject object{
        {QStringLiteral("id"), uuidString(screenshot.id)},
        {QStringLiteral("createdAt"), isoDateString(screenshot.createdAt)},
        {QStringLiteral("kind"), rawValue(screenshot.kind)},
        {QStringLiteral("pixelSize"), toJson(screenshot.pixelSize)},
        {QStringLiteral("fileName"), screenshot.fileName},
    };
    if (screenshot.sourceID) object.insert(QStringLiteral("sourceID"), uuidString(*screenshot.sourceID));
    return object;
}

QJsonValue toJson(const RetentionPolicy& policy) {
    if (auto count = policy.dayCountValue()) {
        return QJsonObject{{QStringLiteral("days"), QJsonObject{{QStringLiteral("_0"), static_cast<qint64>(*count)}}}};
    }
    return QJsonObject{{QStringLiteral("forever"), QJsonObject{}}};
}

Decoded<Trigger> triggerFromJson(const QJsonValue& json) {
    if (!json.isObject()) return unexpected(typeMismatch(QStringLiteral("Dictionary")));
    const QJsonObject object = json.toObject();
    if (!object.contains(QStringLiteral("key"))) return unexpected(missingKey("key"));
    if (!object.contains(QStringLiteral("side"))) return unexpected(missingKey("side"));
    const auto key = enumFromJson<ModifierKey>(object.value(QStringLiteral("key")), modifierKeyFromRaw, "ModifierKey");
    if (!key) return unexpected(key.error());
    const auto side = enumFromJson<KeySide>(object.value(QStringLiteral("side")), keySideFromRaw, "KeySide");
    if (!side) return unexpected(side.error());
    return Trigger{*key, *side};
}

Decoded<PixelSize> pixelSizeFromJson(const QJsonValue& json) {
    if (!json.isArray()) return unexpected(typeMismatch(QStringLiteral("Array")));
    const QJsonArray array = json.toArray();
    if (array.size() < 2) return unexpected(DecodingError{QStringLiteral("Unkeyed container is at end.")});
    const auto width = integerOf(array.at(0));
    const auto height = integerOf(array.at(1));
    if (!width || !height) return unexpected(typeMismatch(QStringLiteral("Int64")));
    return PixelSize{*width, *height};
}

Decoded<Screenshot> screenshotFromJson(const QJsonValue& json) {
    if (!json.isObject()) return unexpected(typeMismatch(QStringLiteral("Dictionary")));
    const QJsonObject object = json.toObject();
    for (const char* key : {"id", "createdAt", "kind", "pixelSize", "fileName"}) {
        if (!object.contains(QLatin1String(key))) return unexpected(missingKey(key));
    }
    Screenshot screenshot;
    const QJsonValue id = object.value(QStringLiteral("id"));
    const auto uuid = id.isString() ? uuidFromString(id.toString()) : std::nullopt;
    if (!uuid) return unexpected(DecodingError{QStringLiteral("Attempted to decode UUID from invalid UUID string.")});
    screenshot.id = *uuid;

    const QJsonValue createdAt = object.value(QStringLiteral("createdAt"));
    const auto date = createdAt.isString() ? dateFromIsoString(createdAt.toString()) : std::nullopt;
    if (!date) return unexpected(DecodingError{QStringLiteral("Expected date string to be ISO8601-formatted.")});
    screenshot.createdAt = *date;

    const auto kind = enumFromJson<ScreenshotKind>(object.value(QStringLiteral("kind")), screenshotKindFromRaw, "ScreenshotKind");
    if (!kind) return unexpected(kind.error());
    screenshot.kind = *kind;

    const auto size = pixelSizeFromJson(object.value(QStringLiteral("pixelSize")));
    if (!size) return unexpected(size.error());
    screenshot.pixelSize = *size;

    const QJsonValue fileName = object.value(QStringLiteral("fileName"));
    if (!fileName.isString()) return unexpected(typeMismatch(QStringLiteral("String")));
    screenshot.fileName = fileName.toString();

    if (object.contains(QStringLiteral("sourceID"))) {
        const QJsonValue source = object.value(QStringLiteral("sourceID"));
        if (!source.isNull()) {
            const auto sourceID = source.isString() ? uuidFromString(source.toString()) : std::nullopt;
            if (!sourceID) return unexpected(DecodingError{QStringLiteral("Attempted to decode UUID from invalid UUID string.")});
            screenshot.sourceID = *sourceID;
        }
    }
    return screenshot;
}

Decoded<RetentionPolicy> retentionPolicyFromJson(const QJsonValue& json) {
    if (!json.isObject()) return unexpected(typeMismatch(QStringLiteral("Dictionary")));
    const QJsonObject object = json.toObject();
    const bool hasDays = object.contains(QStringLiteral("days"));
    const bool hasForever = object.contains(QStringLiteral("forever"));
    if (object.size() != 1 || (!hasDays && !hasForever)) {
        return unexpected(DecodingError{QStringLiteral("Invalid number of keys found, expected one.")});
    }
    if (hasForever) {
        if (!object.value(QStringLiteral("forever")).isObject()) return unexpected(typeMismatch(QStringLiteral("Dictionary")));
        return RetentionPolicy::forever();
    }
    const QJsonValue payload = object.value(QStringLiteral("days"));
    if (!payload.isObject()) return unexpected(typeMismatch(QStringLiteral("Dictionary")));
    const QJsonObject days = payload.toObject();
    if (!days.contains(QStringLiteral("_0"))) return unexpected(missingKey("_0"));
    const auto count = integerOf(days.value(QStringLiteral("_0")));
    if (!count) return unexpected(typeMismatch(QStringLiteral("Int")));
    return RetentionPolicy::days(*count);
}

size_t qHash(const Trigger& trigger, size_t seed) {
    return qHashMulti(seed, static_cast<int>(trigger.key), static_cast<int>(trigger.side));
}

size_t qHash(const PixelSize& size, size_t seed) { return qHashMulti(seed, size.width, size.height); }

size_t qHash(const Screenshot& s, size_t seed) {
    return qHashMulti(seed, s.id, s.createdAt, rawValue(s.kind), s.pixelSize.width, s.pixelSize.height, s.fileName,
                      s.sourceID.has_value(), s.sourceID.value_or(QUuid()));
}

size_t qHash(const RetentionPolicy& policy, size_t seed) {
    return qHashMulti(seed, policy.isForever(), policy.dayCountValue().value_or(0));
}

}  // namespace quillet
