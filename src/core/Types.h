// The small values every module shares: which double press starts a capture, what a capture
// produced, what a stored screenshot is and how long the history keeps it. Their JSON forms
// are stored in the history index and the preferences, so they must not change:
//
//   toJson(Trigger{ModifierKey::shift, KeySide::right})  // {"key":"shift","side":"right"}
//   toJson(PixelSize{3, 2})                              // [3,2]
//   toJson(RetentionPolicy::days(7))                     // {"days":{"_0":7}}
//
// Decoding is strict: an unknown raw string, a missing key or a wrong type fails the whole
// record with a DecodingError.
#pragma once

#include "core/Expected.h"

#include <QDateTime>
#include <QHashFunctions>
#include <QImage>
#include <QJsonValue>
#include <QString>
#include <QUuid>

#include <array>
#include <cstdint>
#include <optional>

namespace quillet {

struct DecodingError {
    QString description;
    friend bool operator==(const DecodingError&, const DecodingError&) = default;
};

template <class T>
using Decoded = Expected<T, DecodingError>;

// ---- raw-value enumerations -------------------------------------------------------------

enum class ModifierKey { control, option, command, shift };
enum class KeySide { any, left, right };
enum class CaptureKind { region, window, fullScreen };
enum class ScreenshotKind { region, window, fullScreen, edited };

inline constexpr std::array<ModifierKey, 4> allModifierKeys{ModifierKey::control, ModifierKey::option,
                                                           ModifierKey::command, ModifierKey::shift};
inline constexpr std::array<KeySide, 3> allKeySides{KeySide::any, KeySide::left, KeySide::right};

QString rawValue(ModifierKey key);
QString rawValue(KeySide side);
QString rawValue(CaptureKind kind);
QString rawValue(ScreenshotKind kind);

std::optional<ModifierKey> modifierKeyFromRaw(const QString& raw);
std::optional<KeySide> keySideFromRaw(const QString& raw);
std::optional<CaptureKind> captureKindFromRaw(const QString& raw);
std::optional<ScreenshotKind> screenshotKindFromRaw(const QString& raw);

// Each capture kind becomes the same-named screenshot kind; `edited` never comes from a capture.
ScreenshotKind screenshotKind(CaptureKind kind);

// ---- Trigger ------------------------------------------------------------------------------

struct Trigger {
    ModifierKey key = ModifierKey::control;
    KeySide side = KeySide::any;

    // Same key, and either side is `any` or both sides are equal. Symmetric.
    bool overlaps(const Trigger& other) const;

    friend bool operator==(const Trigger&, const Trigger&) = default;
};

// ---- PixelSize, Screenshot, CapturedImage --------------------------------------------------

struct PixelSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
    friend bool operator==(const PixelSize&, const PixelSize&) = default;
};

struct Screenshot {
    QUuid id;
    QDateTime createdAt;  // UTC, whole seconds
    ScreenshotKind kind = ScreenshotKind::region;
    PixelSize pixelSize;
    QString fileName;
    std::optional<QUuid> sourceID;

    friend bool operator==(const Screenshot&, const Screenshot&) = default;
};

// The result of one capture before it is stored. QImage is implicitly shared and safe to hand
// between threads once nobody writes to it.
struct CapturedImage {
    QImage image;
    std::uint32_t screenID = 0;  // the display the pixels came from
    CaptureKind kind = CaptureKind::region;
};

// ---- RetentionPolicy ---------------------------------------------------------------------

class RetentionPolicy {
public:
    static RetentionPolicy days(std::int64_t count) { return RetentionPolicy(count); }
    static RetentionPolicy forever() { return RetentionPolicy(std::nullopt); }
    static RetentionPolicy standard() { return days(30); }
    static constexpr std::int64_t allowedDaysMin = 1;
    static constexpr std::int64_t allowedDaysMax = 365;

    bool isForever() const { return !dayCount.has_value(); }
    // The day count of `days(n)`; absent for `forever`.
    std::optional<std::int64_t> dayCountValue() const { return dayCount; }

    friend bool operator==(const RetentionPolicy&, const RetentionPolicy&) = default;

private:
    explicit RetentionPolicy(std::optional<std::int64_t> count) : dayCount(count) {}
    std::optional<std::int64_t> dayCount;
};

// ---- PermissionError -----------------------------------------------------------------------

enum class PermissionError { inputMonitoringDenied, screenRecordingDenied };

// ---- text forms used in files ------------------------------------------------------------

// "E621E1F8-C36C-495A-93FC-0C247A3E6E5F": the canonical upper-case form.
QString uuidString(const QUuid& id);
std::optional<QUuid> uuidFromString(const QString& text);
// "2026-12-06T08:05:19Z": ISO 8601 in UTC with whole seconds.
QString isoDateString(const QDateTime& date);
std::optional<QDateTime> dateFromIsoString(const QString& text);

// ---- JSON forms --------------------------------------------------------------------------

QJsonValue toJson(ModifierKey key);
QJsonValue toJson(KeySide side);
QJsonValue toJson(CaptureKind kind);
QJsonValue toJson(ScreenshotKind kind);
QJsonValue toJson(const Trigger& trigger);
QJsonValue toJson(const PixelSize& size);
QJsonValue toJson(const Screenshot& screenshot);
QJsonValue toJson(const RetentionPolicy& policy);

Decoded<Trigger> triggerFromJson(const QJsonValue& json);
Decoded<PixelSize> pixelSizeFromJson(const QJsonValue& json);
Decoded<Screenshot> screenshotFromJson(const QJsonValue& json);
Decoded<RetentionPolicy> retentionPolicyFromJson(const QJsonValue& json);

// ---- hashing (QHash / QSet) ----------------------------------------------------------------

size_t qHash(const Trigger& trigger, size_t seed = 0);
size_t qHash(const PixelSize& size, size_t seed = 0);
size_t qHash(const Screenshot& screenshot, size_t seed = 0);
size_t qHash(const RetentionPolicy& policy, size_t seed = 0);

}  // namespace quillet
