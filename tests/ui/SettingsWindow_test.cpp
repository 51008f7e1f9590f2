// The settings window over an in-memory preferences store and a fake history.
#include "ui/settings/FolderPathLabel.h"
#include "ui/settings/PopUpButton.h"
#include "ui/settings/SettingsTexts.h"
#include "ui/settings/SettingsWindowController.h"
#include "settings/TriggerRules.h"

#include "fakes/FakeHistoryStore.h"
#include "fakes/FakePreferences.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;
using quillet::test::waitUntil;

namespace {

constexpr int off = SettingsWindowController::offIndex;
constexpr int ctrl = SettingsWindowController::firstKeyIndex;
constexpr int shift = ctrl + 3;
constexpr int leftSide = 1;

Trigger trigger(ModifierKey key, KeySide side = KeySide::any) { return Trigger{key, side}; }

int keyIndex(const std::optional<Trigger>& t) {
    return t ? ctrl + int(std::find(allModifierKeys.begin(), allModifierKeys.end(), t->key) - allModifierKeys.begin())
             : off;
}

// One window over its own store, history fake and history folder.
struct Window {
    // `adapt` changes the standard settings the window starts with.
    explicit Window(const std::function<void(AppSettings&)>& adapt = {},
                    HistoryFolderAccess access = HistoryFolderAccess::system()) {
        AppSettings initial = AppSettings::standard();
        initial.historyFolder = temp.filePath("history");
        QDir().mkpath(initial.historyFolder);
        if (adapt) adapt(initial);
        EXPECT_TRUE(settings.update(initial));
        controller = std::make_unique<SettingsWindowController>(
            settings, [this](const QString& folder) { return history.relocate(folder); },
            [this](const RetentionPolicy& policy) { return history.expiredCount(policy); }, std::move(access));
        controller->show();
    }

    template <class T>
    T* find(const char* name) const {
        return controller->window()->findChild<T*>(QLatin1String(name));
    }
    PopUpButton* popUp(const char* name) const { return find<PopUpButton>(name); }
    AppSettings current() const { return settings.current(); }

    // What a user's pick in a pop-up does: select the item and announce the choice.
    void choose(const char* name, int index) const {
        PopUpButton* button = popUp(name);
        button->setCurrentIndex(index);
        Q_EMIT button->activated(index);
    }
    // The open alert of the window, if any.
    QMessageBox* alert(const char* name = "settingsAlert") const {
        for (QMessageBox* box : controller->window()->findChildren<QMessageBox*>(QLatin1String(name))) {
            if (box->isVisible()) return box;
        }
        return nullptr;
    }
    // Starts a move to `folder` and waits until the history fake is asked for it.
    bool startMove(const QString& folder) {
        const std::size_t asked = history.relocations.size();
        controller->moveHistory(folder);
        return waitUntil([&] { return history.relocations.size() == asked + 1; });
    }
    void finishMove(HistoryResult result) {
        history.relocations.back().answer.finish(result);
        test::drainEvents();
    }

    QTemporaryDir temp;
    fakes::FakePreferences preferences;
    SettingsStore settings{preferences, std::nullopt};
    fakes::FakeHistoryStore history;
    std::unique_ptr<SettingsWindowController> controller;
};

// A trigger's pop-ups show it and offer only the keys and sides the other trigger leaves free.
void expectShown(const Window& window, const char* keys, const char* sides, const std::optional<Trigger>& trigger,
                 const std::optional<Trigger>& other) {
    SCOPED_TRACE(keys);
    const PopUpButton* keyPopUp = window.popUp(keys);
    const PopUpButton* sidePopUp = window.popUp(sides);
    EXPECT_EQ(keyPopUp->currentIndex(), keyIndex(trigger));
    const QList<ModifierKey> freeKeys = TriggerRules::availableKeys(other);
    for (int k = 0; k < int(allModifierKeys.size()); ++k)
        EXPECT_EQ(keyPopUp->isItemEnabled(ctrl + k), freeKeys.contains(allModifierKeys[k])) << "key " << k;
    EXPECT_EQ(sidePopUp->isEnabled(), trigger.has_value());
    if (!trigger) return;
    EXPECT_EQ(sidePopUp->currentIndex(), int(trigger->side));
    const QList<KeySide> freeSides = TriggerRules::availableSides(trigger->key, other);
    for (int s = 0; s < int(allKeySides.size()); ++s)
        EXPECT_EQ(sidePopUp->isItemEnabled(s), freeSides.contains(allKeySides[s])) << "side " << s;
}

TEST(SettingsWindow, ATriggerChoiceIsStoredAtOnceOrSnapsBack) {
    struct Row {
        const char* name;
        std::optional<Trigger> region, fullScreen;
        const char* popUp;
        int index;
        std::optional<Trigger> storedRegion, storedFullScreen;
        bool refused;  // logged, nothing saved
    };
    const auto control = trigger(ModifierKey::control);
    const auto option = trigger(ModifierKey::option);
    const auto controlLeft = trigger(ModifierKey::control, KeySide::left);
    const Row rows[] = {
        {"Выключено switches the trigger off", control, option, "regionKeyPopUp", off, std::nullopt, option, false},
        {"another key keeps its side", control, option, "fullScreenKeyPopUp", shift, control,
         trigger(ModifierKey::shift), false},
        {"a side choice is stored", control, option, "regionSidePopUp", leftSide, controlLeft, option, false},
        {"a key whose side is taken moves to its first free side", option, controlLeft, "regionKeyPopUp", ctrl,
         trigger(ModifierKey::control, KeySide::right), controlLeft, false},
        {"a trigger switched on again gets a free side", std::nullopt, controlLeft, "regionKeyPopUp", ctrl,
         trigger(ModifierKey::control, KeySide::right), controlLeft, false},
        {"a key fully taken is refused and snaps back", option, control, "regionKeyPopUp", ctrl, option, control, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Window window([&](AppSettings& start) {
            start.regionTrigger = row.region;
            start.fullScreenTrigger = row.fullScreen;
        });
        window.preferences.writes.clear();
        test::LogCapture log;
        window.choose(row.popUp, row.index);
        EXPECT_EQ(window.current().regionTrigger, row.storedRegion);
        EXPECT_EQ(window.current().fullScreenTrigger, row.storedFullScreen);
        EXPECT_EQ(log.texts("quillet.settings-window", QtCriticalMsg).size(), row.refused ? 1 : 0);
        EXPECT_EQ(window.preferences.writes.isEmpty(), row.refused) << "saved unless refused";
        // Whatever happened, the pop-ups show what is stored.
        expectShown(window, "regionKeyPopUp", "regionSidePopUp", row.storedRegion, row.storedFullScreen);
        expectShown(window, "fullScreenKeyPopUp", "fullScreenSidePopUp", row.storedFullScreen, row.storedRegion);
    }
}

TEST(SettingsWindow, EachCheckboxStoresItsSwitchAndFollowsAChangeMadeElsewhere) {
    const std::pair<const char*, bool AppSettings::*> rows[] = {
        {"previewCheckbox", &AppSettings::showPreview},
        {"shutterSoundCheckbox", &AppSettings::playShutterSound},
        {"launchAtLoginCheckbox", &AppSettings::launchAtLogin},
    };
    Window window;
    const AppSettings before = window.current();
    for (const auto& [name, field] : rows) {
        SCOPED_TRACE(name);
        QCheckBox* box = window.find<QCheckBox>(name);
        ASSERT_TRUE(box->isChecked());
        box->click();
        AppSettings expected = before;
        expected.*field = false;
        EXPECT_EQ(window.current(), expected);
        // Launch at login, for one, is corrected to the system's state behind the window's back.
        ASSERT_TRUE(window.settings.update(before));
        EXPECT_TRUE(box->isChecked());
    }
}

TEST(SettingsWindow, APeriodAsksFirstOnlyWhenItDeletesScreenshots) {
    Window nothingExpires([](AppSettings& start) { start.retention = RetentionPolicy::forever(); });
    nothingExpires.choose("retentionPopUp", 0);  // 7 дней
    EXPECT_EQ(nothingExpires.alert("deletionQuestion"), nullptr);
    EXPECT_EQ(nothingExpires.current().retention, RetentionPolicy::days(7));
    EXPECT_EQ(nothingExpires.history.expiredCountAsked, std::vector<RetentionPolicy>{RetentionPolicy::days(7)});

    Window inForce;  // 30 days, the expired ones not yet removed
    inForce.history.expired.insert(RetentionPolicy::days(30), 3);
    inForce.preferences.writes.clear();
    inForce.choose("retentionPopUp", 1);
    EXPECT_EQ(inForce.alert("deletionQuestion"), nullptr);
    EXPECT_TRUE(inForce.preferences.writes.isEmpty());

    for (const auto& [answer, stored] : {std::pair{"Удалить", RetentionPolicy::days(7)},
                                         std::pair{"Отмена", RetentionPolicy::days(45)}}) {
        SCOPED_TRACE(answer);
        // A period set outside the window shows as an extra first item.
        Window window([](AppSettings& start) { start.retention = RetentionPolicy::days(45); });
        EXPECT_EQ(window.popUp("retentionPopUp")->itemText(0), QStringLiteral("45 дн."));
        window.history.expired.insert(RetentionPolicy::days(7), 5);
        window.choose("retentionPopUp", 1);  // 7 дней
        QMessageBox* question = window.alert("deletionQuestion");
        ASSERT_NE(question, nullptr);
        EXPECT_EQ(question->text(), QStringLiteral("Будет удалено 5 снимков. Удалить?"));
        EXPECT_EQ(window.current().retention, RetentionPolicy::days(45)) << "nothing changes while asking";
        for (QAbstractButton* button : question->buttons()) {
            if (button->text() == QString::fromUtf8(answer)) button->click();
        }
        EXPECT_EQ(window.current().retention, stored);
        const PopUpButton* popUp = window.popUp("retentionPopUp");
        EXPECT_EQ(popUp->itemText(popUp->currentIndex()), stored == RetentionPolicy::days(7) ? "7 дней" : "45 дн.");
    }
}

TEST(SettingsTexts, CountPhraseUsesTheRussianPlural) {
    const std::pair<qint64, const char*> rows[] = {
        {1, "1 снимок"},     {2, "2 снимка"},     {5, "5 снимков"},     {11, "11 снимков"},  {14, "14 снимков"},
        {21, "21 снимок"},   {22, "22 снимка"},   {111, "111 снимков"}, {112, "112 снимков"}, {1021, "1021 снимок"},
    };
    for (const auto& [count, phrase] : rows) EXPECT_EQ(SettingsTexts::countPhrase(count), QString::fromUtf8(phrase));
}

// An unusable or unchanged folder moves nothing; a failed move keeps the old folder; a move saves
// the new one only after the store moved, even when the window closed meanwhile.
TEST(SettingsWindow, AMoveIsRefusedForABadFolderFailsSafelyAndSavesTheFolderOnlyOnceTheStoreMoved) {
    Window window;
    const AppSettings before = window.current();
    auto* button = window.find<QPushButton>("folderButton");
    QFile file(window.temp.filePath("a file"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    const std::pair<QString, const char*> refused[] = {
        {file.fileName(), "Не удалось записать файлы."},
        {before.historyFolder + "/inner", "Эта папка находится внутри текущей папки истории."}};
    for (const auto& [folder, explanation] : refused) {
        SCOPED_TRACE(explanation);
        window.controller->moveHistory(folder);
        ASSERT_TRUE(waitUntil([&] { return window.alert() != nullptr; }));
        EXPECT_EQ(window.alert()->informativeText(), QString::fromUtf8(explanation));
        EXPECT_TRUE(button->isEnabled());
        window.alert()->close();
    }
    for (const char* same : {"", "/", "/./"}) {
        window.controller->moveHistory(before.historyFolder + same);
        EXPECT_FALSE(window.controller->isMoving());
    }
    test::drainEvents();
    EXPECT_EQ(window.alert(), nullptr);
    EXPECT_TRUE(window.history.relocations.empty());

    test::LogCapture log;
    ASSERT_TRUE(window.startMove(window.temp.filePath("full")));
    window.finishMove(HistoryResult(unexpected(HistoryError::notEnoughSpace())));
    QMessageBox* alert = window.alert();
    ASSERT_NE(alert, nullptr);
    EXPECT_EQ(alert->informativeText(), QStringLiteral("Не хватает места на диске. Снимки остались в прежней папке."));
    EXPECT_EQ(log.texts("quillet.settings-window", QtCriticalMsg).size(), 1);
    EXPECT_EQ(window.current(), before);
    EXPECT_TRUE(button->isEnabled());
    alert->close();

    int closes = 0;
    window.controller->onClose = [&] { ++closes; };
    const QString target = window.temp.filePath("elsewhere");
    auto* status = window.find<QLabel>("folderStatusLabel");
    ASSERT_TRUE(window.startMove(target + QStringLiteral("/")));
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(window.history.relocations.back().folder, target);
    EXPECT_TRUE(QFileInfo(target).isDir()) << "the folder is prepared before the move";
    test::drainEvents();
    EXPECT_EQ(status->text(), QStringLiteral("Переносим снимки…")) << "a volume check does not overwrite the progress";
    window.controller->window()->close();
    EXPECT_EQ(closes, 0);
    EXPECT_NE(window.current().historyFolder, target);

    window.finishMove(HistoryResult());
    EXPECT_EQ(window.current().historyFolder, target);
    EXPECT_EQ(window.find<FolderPathLabel>("folderLabel")->path(), target);
    EXPECT_EQ(closes, 1);
    EXPECT_EQ(window.alert(), nullptr);
}

TEST(SettingsWindow, AFolderOnAnUnpluggedDiskSaysSo) {
    QTemporaryDir volumes;
    HistoryFolderAccess access = HistoryFolderAccess::system();
    access.volumesRoots = {QDir(volumes.path()).filePath("media")};
    access.isMountPoint = [](const QString&) { return false; };
    const QString folder = QDir(volumes.path()).filePath("media/Disk/Quillet");
    // The window is built over a folder that is not there; it must not create it.
    Window window([&](AppSettings& start) { start.historyFolder = folder; }, access);
    auto* status = window.find<QLabel>("folderStatusLabel");
    EXPECT_TRUE(waitUntil([&] { return status->text() == QStringLiteral("Диск с историей не подключён"); }));
    EXPECT_FALSE(QFileInfo::exists(folder));
}

}  // namespace
