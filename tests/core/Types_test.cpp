// The stored forms of the shared values: a change would make existing files unreadable.
#include "core/Types.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

#include <gtest/gtest.h>

using namespace quillet;

namespace {

QByteArray compact(const QJsonValue& value) {
    if (value.isArray()) return QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact);
    return QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact);
}

QJsonValue parse(const char* json) {
    const QJsonDocument document = QJsonDocument::fromJson(json);
    if (document.isArray()) return document.array();
    return document.object();
}

Screenshot sample() {
    return Screenshot{QUuid::fromString(QStringLiteral("e621e1f8-c36c-495a-93fc-0c247a3e6e5f")),
                      QDateTime(QDate(2026, 12, 6), QTime(8, 5, 19), Qt::UTC), ScreenshotKind::edited, {2880, 1800},
                      QStringLiteral("Quillet 2026-12-06 at 08.05.19.png"),
                      QUuid::fromString(QStringLiteral("00000000-0000-4000-8000-00000000000a"))};
}

}  // namespace

TEST(Types, RawValuesRoundTripAndUnknownStringsFail) {
    for (ModifierKey key : allModifierKeys) EXPECT_EQ(modifierKeyFromRaw(rawValue(key)), key);
    for (KeySide side : allKeySides) EXPECT_EQ(keySideFromRaw(rawValue(side)), side);
    EXPECT_EQ(rawValue(CaptureKind::fullScreen), QStringLiteral("fullScreen"));
    EXPECT_EQ(screenshotKindFromRaw(QStringLiteral("edited")), ScreenshotKind::edited);
    EXPECT_EQ(captureKindFromRaw(QStringLiteral("edited")), std::nullopt);
    EXPECT_EQ(modifierKeyFromRaw(QStringLiteral("Control")), std::nullopt);
}

TEST(Types, TriggersOverlapOnTheSameKeyWhenEitherSideCouldBeBoth) {
    using enum ModifierKey;
    using enum KeySide;
    const struct {
        Trigger a, b;
        bool overlap;
    } rows[] = {
        {{control, left}, {control, left}, true},   {{control, any}, {control, right}, true},
        {{shift, left}, {shift, any}, true},         {{control, left}, {control, right}, false},
        {{control, any}, {option, any}, false},      {{command, right}, {shift, right}, false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.a.overlaps(row.b), row.overlap) << rawValue(row.a.key).toStdString() << " " << rawValue(row.a.side).toStdString();
        EXPECT_EQ(row.b.overlaps(row.a), row.overlap);
    }
}

TEST(Types, TriggerPixelSizeAndRetentionForms) {
    const Trigger trigger{ModifierKey::shift, KeySide::right};
    EXPECT_EQ(compact(toJson(trigger)), R"({"key":"shift","side":"right"})");
    EXPECT_EQ(triggerFromJson(toJson(trigger)).value(), trigger);
    EXPECT_FALSE(triggerFromJson(parse(R"({"key":"shift"})")));
    EXPECT_FALSE(triggerFromJson(parse(R"({"key":"hyper","side":"any"})")));

    EXPECT_EQ(compact(toJson(PixelSize{3, 2})), "[3,2]");
    EXPECT_EQ(pixelSizeFromJson(parse("[3,2,99]")).value(), (PixelSize{3, 2}));
    for (const char* bad : {R"({"width":3,"height":2})", "[3]", "[3.5,2]", R"(["3",2])"})
        EXPECT_FALSE(pixelSizeFromJson(parse(bad))) << bad;

    EXPECT_EQ(compact(toJson(RetentionPolicy::days(7))), R"({"days":{"_0":7}})");
    EXPECT_EQ(compact(toJson(RetentionPolicy::forever())), R"({"forever":{}})");
    for (const RetentionPolicy policy : {RetentionPolicy::days(7), RetentionPolicy::forever()})
        EXPECT_EQ(retentionPolicyFromJson(toJson(policy)).value(), policy);
    for (const char* bad : {R"({"days":{"_0":7},"forever":{}})", "{}", R"({"weeks":{"_0":1}})",
                            R"({"days":{"count":7}})", R"({"days":{"_0":"7"}})"}) {
        EXPECT_FALSE(retentionPolicyFromJson(parse(bad))) << bad;
    }
}

// The exact stored form is pinned by the history index tests.
TEST(Types, ScreenshotFormRoundTripsIsStrictAndAnAbsentSourceIsNotANullOne) {
    Screenshot screenshot = sample();
    EXPECT_EQ(screenshotFromJson(toJson(screenshot).toObject()).value(), screenshot);
    screenshot.sourceID.reset();
    EXPECT_FALSE(toJson(screenshot).toObject().contains(QStringLiteral("sourceID")));
    EXPECT_EQ(screenshotFromJson(toJson(screenshot).toObject()).value(), screenshot);

    Screenshot withSource = screenshot;
    withSource.sourceID = QUuid();
    EXPECT_EQ(QSet<Screenshot>({screenshot, withSource, screenshot}).size(), 2);

    const QJsonObject good = toJson(sample()).toObject();
    for (const char* key : {"id", "createdAt", "kind", "pixelSize", "fileName"}) {
        QJsonObject missing = good;
        missing.remove(QLatin1String(key));
        EXPECT_FALSE(screenshotFromJson(missing)) << key;
    }
    for (const auto& [key, value] : {std::pair{"id", "not-a-uuid"}, {"createdAt", "yesterday"}, {"kind", "video"}}) {
        QJsonObject bad = good;
        bad.insert(QLatin1String(key), QLatin1String(value));
        EXPECT_FALSE(screenshotFromJson(bad)) << key;
    }

    // Another writer's time zone offset still names the same instant.
    QJsonObject offset = good;
    offset.insert(QStringLiteral("createdAt"), QStringLiteral("2026-12-06T11:05:19+03:00"));
    EXPECT_EQ(screenshotFromJson(offset)->createdAt, sample().createdAt);
}

TEST(Types, DatesAreWholeSecondsInUtc) {
    const QDateTime withMillis(QDate(2026, 1, 2), QTime(3, 4, 5, 678), Qt::UTC);
    EXPECT_EQ(isoDateString(withMillis), QStringLiteral("2026-01-02T03:04:05Z"));
    EXPECT_EQ(isoDateString(withMillis.toOffsetFromUtc(3600)), QStringLiteral("2026-01-02T03:04:05Z"));
    EXPECT_EQ(dateFromIsoString(QStringLiteral("2026-01-02T03:04:05Z")), QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::UTC));
    EXPECT_EQ(dateFromIsoString(QStringLiteral("2026-01-02T03:04:05")), std::nullopt);  // no zone: ambiguous
    EXPECT_EQ(uuidFromString(QStringLiteral("{e621e1f8-c36c-495a-93fc-0c247a3e6e5f}")), std::nullopt);
}
