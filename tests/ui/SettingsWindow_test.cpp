// The settings window's logic over an in-memory preferences store and a fake history: which
// pop-up items are enabled, what a choice stores, that a refused choice snaps back, the retention
// items and the deletion question, and moving the history with its alerts.
#include "ui/settings/BusySpinner.h"
#include "ui/settings/FolderPathLabel.h"
#include "ui/settings/PopUpButton.h"
#include "ui/settings/SettingsTexts.h"
#include "ui/settings/SettingsWindowController.h"

#include "fakes/FakeHistoryStore.h"
#include "fakes/FakePreferences.h"
#include "support/LogCapture.h"
#include "support/TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace quillet;
using quillet::fakes::FakeHistoryStore;
using quillet::fakes::FakePreferences;
using quillet::test::waitUntil;

namespace {

constexpr int off = SettingsWindowController::offIndex;
constexpr int ctrl = SettingsWindowController::firstKeyIndex;
constexpr int alt = ctrl + 1;
constexpr int super = ctrl + 2;
constexpr int shift = ctrl + 3;
constexpr int anySide = 0, leftSide = 1, rightSide = 2;

Trigger trigger(ModifierKey key, KeySide side = KeySide::any) { return Trigger{key, side}; }

// One window over its own store, history fake and history folder.
struct Window {
    explicit Window(const AppSettings& start = AppSettings::standard(),
                    HistoryFolderAccess access = HistoryFolderAccess::system()) {
        AppSettings initial = start;
        if (initial.historyFolder == AppSettings::defaultHistoryFolder()) {
            initial.historyFolder = temp.filePath("history");
            QDir().mkpath(initial.historyFolder);
        }
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
    static void press(QMessageBox* box, const QString& title) {
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == title) return button->click();
        }
        ADD_FAILURE() << "no button " << title.toStdString();
    }

    QTemporaryDir temp;
    FakePreferences preferences;
    SettingsStore settings{preferences, std::nullopt};
    FakeHistoryStore history;
    std::unique_ptr<SettingsWindowController> controller;
};

AppSettings withTriggers(std::optional<Trigger> region, std::optional<Trigger> fullScreen) {
    AppSettings settings = AppSettings::standard();
    settings.regionTrigger = region;
    settings.fullScreenTrigger = fullScreen;
    return settings;
}

std::vector<bool> enabledItems(const PopUpButton* popUp, std::initializer_list<int> indices) {
    std::vector<bool> enabled;
    for (const int index : indices) enabled.push_back(popUp->isItemEnabled(index));
    return enabled;
}

// ---- Showing the triggers -----------------------------------------------------------------

struct ShownTrigger {
    const char* name;
    std::optional<Trigger> region;
    std::optional<Trigger> fullScreen;
    int regionKeyIndex;
    std::vector<bool> regionKeysEnabled;  // off, Ctrl, Alt, Super, Shift
    bool regionSidesEnabled;
    std::vector<bool> regionSideItemsEnabled;  // any, left, right (when the side pop-up is on)
};

TEST(SettingsWindow, TriggerPopUpsEnableOnlyWhatTheOtherTriggerLeavesFree) {
    const ShownTrigger rows[] = {
        {"full screen Ctrl/any takes Ctrl away", trigger(ModifierKey::option), trigger(ModifierKey::control), alt,
         {true, false, true, true, true}, true, {true, true, true}},
        {"full screen Ctrl/left leaves Ctrl's right side", trigger(ModifierKey::control, KeySide::right),
         trigger(ModifierKey::control, KeySide::left), ctrl, {true, true, true, true, true}, true, {false, false, true}},
        {"full screen off leaves every key and side", trigger(ModifierKey::shift, KeySide::left), std::nullopt, shift,
         {true, true, true, true, true}, true, {true, true, true}},
        {"region off shows Выключено and no sides", std::nullopt, trigger(ModifierKey::command, KeySide::any), off,
         {true, true, true, false, true}, false, {}},
    };
    for (const ShownTrigger& row : rows) {
        SCOPED_TRACE(row.name);
        Window window(withTriggers(row.region, row.fullScreen));
        const PopUpButton* keys = window.popUp("regionKeyPopUp");
        const PopUpButton* sides = window.popUp("regionSidePopUp");
        EXPECT_EQ(keys->currentIndex(), row.regionKeyIndex);
        EXPECT_EQ(enabledItems(keys, {off, ctrl, alt, super, shift}), row.regionKeysEnabled);
        EXPECT_EQ(sides->isEnabled(), row.regionSidesEnabled);
        if (row.regionSidesEnabled) {
            EXPECT_EQ(enabledItems(sides, {anySide, leftSide, rightSide}), row.regionSideItemsEnabled);
            EXPECT_EQ(sides->currentIndex(), int(row.region->side));
        }
    }
}

// ---- Choosing triggers --------------------------------------------------------------------

struct Pick {
    const char* popUp;
    int index;
};

struct TriggerChoice {
    const char* name;
    std::optional<Trigger> region;
    std::optional<Trigger> fullScreen;
    std::vector<Pick> picks;
    std::optional<Trigger> storedRegion;
    std::optional<Trigger> storedFullScreen;
    bool refused;  // logged with the error's name, nothing saved
};

TEST(SettingsWindow, ATriggerChoiceIsStoredAtOnceOrSnapsBack) {
    const auto control = trigger(ModifierKey::control);
    const auto option = trigger(ModifierKey::option);
    const TriggerChoice rows[] = {
        {"Выключено switches the region trigger off", control, option, {{"regionKeyPopUp", off}}, std::nullopt, option, false},
        {"another key keeps its side", control, option, {{"fullScreenKeyPopUp", shift}}, control,
         trigger(ModifierKey::shift), false},
        {"a side choice is stored", control, option, {{"regionSidePopUp", leftSide}},
         trigger(ModifierKey::control, KeySide::left), option, false},
        {"a key whose side is taken moves to its first free side", option, trigger(ModifierKey::control, KeySide::left),
         {{"regionKeyPopUp", ctrl}}, trigger(ModifierKey::control, KeySide::right),
         trigger(ModifierKey::control, KeySide::left), false},
        {"a key fully taken is refused and snaps back", option, control, {{"regionKeyPopUp", ctrl}}, option, control, true},
        {"full screen to Shift, then region to Alt/left", control, option,
         {{"fullScreenKeyPopUp", shift}, {"regionKeyPopUp", alt}, {"regionSidePopUp", leftSide}},
         trigger(ModifierKey::option, KeySide::left), trigger(ModifierKey::shift), false},
        {"a trigger switched on again gets a free side", std::nullopt, trigger(ModifierKey::shift, KeySide::left),
         {{"regionKeyPopUp", shift}}, trigger(ModifierKey::shift, KeySide::right),
         trigger(ModifierKey::shift, KeySide::left), false},
        {"a fully taken key picked while off is refused", std::nullopt, trigger(ModifierKey::shift),
         {{"regionKeyPopUp", shift}}, std::nullopt, trigger(ModifierKey::shift), true},
    };
    for (const TriggerChoice& row : rows) {
        SCOPED_TRACE(row.name);
        Window window(withTriggers(row.region, row.fullScreen));
        window.preferences.writes.clear();
        test::LogCapture log;
        for (const Pick& pick : row.picks) window.choose(pick.popUp, pick.index);
        EXPECT_EQ(window.current().regionTrigger, row.storedRegion);
        EXPECT_EQ(window.current().fullScreenTrigger, row.storedFullScreen);
        EXPECT_EQ(log.texts("quillet.settings-window", QtCriticalMsg),
                  row.refused ? QStringList{QStringLiteral("Настройки отклонены: overlappingTriggers")} : QStringList{});
        if (row.refused) EXPECT_TRUE(window.preferences.writes.isEmpty()) << "nothing saved";
        // Whatever happened, the pop-ups show what is stored.
        const auto shownKey = [](const std::optional<Trigger>& t) {
            return t ? ctrl + int(std::find(allModifierKeys.begin(), allModifierKeys.end(), t->key) - allModifierKeys.begin())
                     : off;
        };
        EXPECT_EQ(window.popUp("regionKeyPopUp")->currentIndex(), shownKey(row.storedRegion));
        EXPECT_EQ(window.popUp("fullScreenKeyPopUp")->currentIndex(), shownKey(row.storedFullScreen));
        if (row.storedRegion) {
            EXPECT_EQ(window.popUp("regionSidePopUp")->currentIndex(), int(row.storedRegion->side));
        }
    }
}

// ---- Switches -----------------------------------------------------------------------------

TEST(SettingsWindow, EachCheckboxStoresItsSwitchAndLeavesTheOthers) {
    struct Row {
        const char* checkbox;
        bool AppSettings::*field;
    };
    const Row rows[] = {{"previewCheckbox", &AppSettings::showPreview},
                        {"shutterSoundCheckbox", &AppSettings::playShutterSound},
                        {"launchAtLoginCheckbox", &AppSettings::launchAtLogin}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.checkbox);
        Window window;
        const AppSettings before = window.current();
        QCheckBox* box = window.find<QCheckBox>(row.checkbox);
        ASSERT_TRUE(box->isChecked());
        box->click();
        AppSettings expected = before;
        expected.*row.field = false;
        EXPECT_EQ(window.current(), expected);
        box->click();
        EXPECT_EQ(window.current(), before);
    }
}

TEST(SettingsWindow, ControlsFollowAChangeMadeElsewhere) {
    Window window;
    AppSettings changed = window.current();
    changed.launchAtLogin = false;  // launch at login corrected to the system's state
    changed.fullScreenTrigger = std::nullopt;
    ASSERT_TRUE(window.settings.update(changed));
    EXPECT_FALSE(window.find<QCheckBox>("launchAtLoginCheckbox")->isChecked());
    EXPECT_EQ(window.popUp("fullScreenKeyPopUp")->currentIndex(), off);
}

// ---- Retention ----------------------------------------------------------------------------

TEST(SettingsWindow, RetentionPopUpShowsAStoredOddPeriodAsAnExtraFirstItem) {
    struct Row {
        RetentionPolicy stored;
        QStringList titles;
        int selected;
    };
    const QStringList regular = {"7 дней", "30 дней", "90 дней", "365 дней", "Всегда"};
    const Row rows[] = {
        {RetentionPolicy::days(45), QStringList{"45 дн."} + regular, 0},
        {RetentionPolicy::days(1), QStringList{"1 дн."} + regular, 0},
        {RetentionPolicy::days(30), regular, 1},
        {RetentionPolicy::days(365), regular, 3},
        {RetentionPolicy::forever(), regular, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.titles.first().toStdString());
        AppSettings start = AppSettings::standard();
        start.retention = row.stored;
        Window window(start);
        const PopUpButton* popUp = window.popUp("retentionPopUp");
        QStringList titles;
        for (int i = 0; i < popUp->count(); ++i) titles << popUp->itemText(i);
        EXPECT_EQ(titles, row.titles);
        EXPECT_EQ(popUp->currentIndex(), row.selected);
    }
}

TEST(SettingsWindow, AShorterPeriodThatDeletesNothingIsCommittedWithoutAsking) {
    AppSettings start = AppSettings::standard();
    start.retention = RetentionPolicy::forever();
    Window window(start);
    window.choose("retentionPopUp", 0);  // 7 дней
    EXPECT_EQ(window.alert("deletionQuestion"), nullptr);
    EXPECT_EQ(window.current().retention, RetentionPolicy::days(7));
    EXPECT_EQ(window.history.expiredCountAsked, std::vector<RetentionPolicy>{RetentionPolicy::days(7)});
}

TEST(SettingsWindow, APeriodThatDeletesScreenshotsAsksFirst) {
    struct Row {
        const char* answer;
        RetentionPolicy stored;
    };
    const Row rows[] = {{"Удалить", RetentionPolicy::days(7)}, {"Отмена", RetentionPolicy::days(45)}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.answer);
        AppSettings start = AppSettings::standard();
        start.retention = RetentionPolicy::days(45);
        Window window(start);
        window.history.expired.insert(RetentionPolicy::days(7), 5);
        window.choose("retentionPopUp", 1);  // 7 дней, after the extra "45 дн."
        QMessageBox* question = window.alert("deletionQuestion");
        ASSERT_NE(question, nullptr);
        EXPECT_EQ(question->text(), QStringLiteral("Будет удалено 5 снимков. Удалить?"));
        EXPECT_EQ(question->informativeText(), QStringLiteral("Удалённые снимки не восстановить: они не попадают в Корзину."));
        EXPECT_EQ(question->windowModality(), Qt::WindowModal);
        EXPECT_EQ(window.current().retention, RetentionPolicy::days(45)) << "nothing changes while asking";
        Window::press(question, QString::fromUtf8(row.answer));
        EXPECT_EQ(window.current().retention, row.stored);
        const PopUpButton* popUp = window.popUp("retentionPopUp");
        EXPECT_EQ(popUp->itemText(popUp->currentIndex()),
                  row.stored == RetentionPolicy::days(7) ? QStringLiteral("7 дней") : QStringLiteral("45 дн."));
    }
}

TEST(SettingsWindow, PickingThePeriodInForceAsksNothing) {
    Window window;  // 30 days
    window.history.expired.insert(RetentionPolicy::days(30), 3);  // not yet applied
    window.preferences.writes.clear();
    window.choose("retentionPopUp", 1);
    EXPECT_EQ(window.alert("deletionQuestion"), nullptr);
    EXPECT_TRUE(window.preferences.writes.isEmpty());
}

TEST(SettingsTexts, CountPhraseUsesTheRussianPlural) {
    const std::pair<qint64, const char*> rows[] = {
        {1, "1 снимок"},     {2, "2 снимка"},     {4, "4 снимка"},     {5, "5 снимков"},     {11, "11 снимков"},
        {12, "12 снимков"},  {14, "14 снимков"},  {21, "21 снимок"},   {22, "22 снимка"},    {25, "25 снимков"},
        {100, "100 снимков"}, {101, "101 снимок"}, {111, "111 снимков"}, {112, "112 снимков"}, {1021, "1021 снимок"},
    };
    for (const auto& [count, phrase] : rows) EXPECT_EQ(SettingsTexts::countPhrase(count), QString::fromUtf8(phrase));
}

// ---- The history folder -------------------------------------------------------------------

TEST(SettingsWindow, MovingToTheSameFolderDoesNothing) {
    Window window;
    const QString folder = window.current().historyFolder;
    for (const QString& same : QStringList{folder, folder + QStringLiteral("/"), folder + QStringLiteral("/./")}) {
        window.controller->moveHistory(same);
        EXPECT_FALSE(window.controller->isMoving());
    }
    EXPECT_TRUE(window.history.relocations.empty());
    EXPECT_EQ(window.alert(), nullptr);
}

TEST(SettingsWindow, AMoveShowsItsProgressAndSavesTheFolderOnlyAfterTheStoreMoved) {
    Window window;
    const QString target = window.temp.filePath("elsewhere");
    window.controller->moveHistory(target + QStringLiteral("/"));

    auto* button = window.find<QPushButton>("folderButton");
    auto* status = window.find<QLabel>("folderStatusLabel");
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(status->text(), QStringLiteral("Переносим снимки…"));
    EXPECT_TRUE(window.find<BusySpinner>("folderSpinner")->isSpinning());
    ASSERT_TRUE(waitUntil([&] { return window.history.relocations.size() == 1; }));
    EXPECT_EQ(window.history.relocations.front().folder, target);
    EXPECT_TRUE(QFileInfo(target).isDir()) << "the folder is prepared before the move";
    test::drainEvents();
    EXPECT_EQ(status->text(), QStringLiteral("Переносим снимки…")) << "a volume check does not overwrite the progress";
    EXPECT_NE(window.current().historyFolder, target);

    window.history.relocations.front().answer.finish(HistoryResult());
    test::drainEvents();
    EXPECT_EQ(window.current().historyFolder, target);
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(window.find<BusySpinner>("folderSpinner")->isSpinning());
    EXPECT_EQ(window.find<FolderPathLabel>("folderLabel")->path(), target);
    EXPECT_TRUE(waitUntil([&] { return status->text().isEmpty(); }));
    EXPECT_EQ(window.alert(), nullptr);
}

TEST(SettingsWindow, AFailedMoveExplainsWhyAndKeepsTheOldFolder) {
    struct Row {
        HistoryError error;
        const char* explanation;
    };
    const Row rows[] = {
        {HistoryError::notEnoughSpace(), "Не хватает места на диске."},
        {HistoryError::volumeNotMounted(), "Диск с этой папкой не подключён."},
        {HistoryError::folderNotWritable(), "В эту папку нельзя записывать."},
        {HistoryError::volumeAccessDenied(),
         "У приложения нет доступа к этому диску. Разрешите «Съёмные тома» в настройках системы."},
        {HistoryError::writeFailed(QStringLiteral("копия снимка не совпала с оригиналом")), "Не удалось записать файлы."},
        {HistoryError::deleteFailed(QStringLiteral("Permission denied")), "Не удалось записать файлы."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.explanation);
        Window window;
        const AppSettings before = window.current();
        test::LogCapture log;
        window.controller->moveHistory(window.temp.filePath("elsewhere"));
        ASSERT_TRUE(waitUntil([&] { return window.history.relocations.size() == 1; }));
        window.history.relocations.front().answer.finish(HistoryResult(unexpected(row.error)));
        test::drainEvents();
        QMessageBox* alert = window.alert();
        ASSERT_NE(alert, nullptr);
        EXPECT_EQ(alert->text(), QStringLiteral("Снимки не перенесены"));
        EXPECT_EQ(alert->informativeText(),
                  QString::fromUtf8(row.explanation) + QStringLiteral(" Снимки остались в прежней папке."));
        EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
        EXPECT_EQ(log.texts("quillet.settings-window", QtCriticalMsg),
                  QStringList{QStringLiteral("История не переехала: ") + describe(row.error)});
        EXPECT_EQ(window.current(), before);
        EXPECT_FALSE(window.controller->isMoving());
        Window::press(alert, QStringLiteral("Понятно"));
        EXPECT_EQ(window.alert(), nullptr);
    }
}

TEST(SettingsWindow, AnUnusableFolderIsRefusedBeforeAnythingMoves) {
    struct Row {
        const char* name;
        std::function<QString(const QTemporaryDir&, const QString& history)> folder;
        std::function<void(HistoryFolderAccess&)> adapt;
        const char* explanation;
    };
    const Row rows[] = {
        {"a file, not a folder",
         [](const QTemporaryDir& temp, const QString&) {
             QFile file(temp.filePath("a file"));
             EXPECT_TRUE(file.open(QIODevice::WriteOnly));
             return file.fileName();
         },
         {}, "Не удалось записать файлы."},
        {"not writable", [](const QTemporaryDir& temp, const QString&) { return temp.filePath("locked"); },
         [](HistoryFolderAccess& access) { access.isWritable = [](const QString&) { return false; }; },
         "В эту папку нельзя записывать."},
        {"on a volume that is not mounted",
         [](const QTemporaryDir& temp, const QString&) { return temp.filePath("media/Disk/Shots"); },
         [](HistoryFolderAccess& access) { access.isMountPoint = [](const QString&) { return false; }; },
         "Диск с этой папкой не подключён."},
        {"inside the history folder", [](const QTemporaryDir&, const QString& history) { return history + "/inner"; }, {},
         "Эта папка находится внутри текущей папки истории."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        QTemporaryDir volumes;
        HistoryFolderAccess access = HistoryFolderAccess::system();
        access.volumesRoots = {QDir(volumes.path()).filePath("media")};
        if (row.adapt) row.adapt(access);
        Window window(AppSettings::standard(), access);
        const AppSettings before = window.current();
        window.controller->moveHistory(row.folder(volumes, before.historyFolder));
        ASSERT_TRUE(waitUntil([&] { return window.alert() != nullptr; }));
        EXPECT_EQ(window.alert()->text(), QStringLiteral("Эту папку выбрать нельзя"));
        EXPECT_EQ(window.alert()->informativeText(), QString::fromUtf8(row.explanation));
        EXPECT_TRUE(window.history.relocations.empty());
        EXPECT_EQ(window.current(), before);
        EXPECT_FALSE(window.controller->isMoving());
        EXPECT_TRUE(window.find<QPushButton>("folderButton")->isEnabled());
    }
}

TEST(SettingsWindow, AFolderOnAnUnpluggedDiskSaysSo) {
    QTemporaryDir volumes;
    HistoryFolderAccess access = HistoryFolderAccess::system();
    access.volumesRoots = {QDir(volumes.path()).filePath("media")};
    access.isMountPoint = [](const QString&) { return false; };
    AppSettings start = AppSettings::standard();
    start.historyFolder = QDir(volumes.path()).filePath("media/Disk/Quillet");
    // The window is built over a folder that is not there; it must not create it.
    Window window(start, access);
    auto* status = window.find<QLabel>("folderStatusLabel");
    EXPECT_TRUE(waitUntil([&] { return status->text() == QStringLiteral("Диск с историей не подключён"); }));
    EXPECT_FALSE(QFileInfo::exists(start.historyFolder));
}

TEST(SettingsWindow, ClosingDuringAMoveWaitsForItToSaveTheFolder) {
    Window window;
    int closes = 0;
    window.controller->onClose = [&] { ++closes; };
    const QString target = window.temp.filePath("elsewhere");
    window.controller->moveHistory(target);
    ASSERT_TRUE(waitUntil([&] { return window.history.relocations.size() == 1; }));
    window.controller->window()->close();
    EXPECT_EQ(closes, 0);
    window.history.relocations.front().answer.finish(HistoryResult());
    test::drainEvents();
    EXPECT_EQ(window.current().historyFolder, target);
    EXPECT_EQ(closes, 1);
}

TEST(FolderPathLabel, ALongPathIsCutInTheMiddleAndShownWholeInTheTooltip) {
    FolderPathLabel label;
    const QString path = QStringLiteral("/home/anna/") + QString(60, QLatin1Char('x')) + QStringLiteral("/Снимки Quillet");
    label.setPath(path);
    label.resize(label.sizeHint());
    EXPECT_LE(label.sizeHint().width(), FolderPathLabel::maximumPathWidth);
    EXPECT_EQ(label.toolTip(), path);
    EXPECT_TRUE(label.text().startsWith(QStringLiteral("/home/"))) << label.text().toStdString();
    EXPECT_TRUE(label.text().endsWith(QStringLiteral("Quillet"))) << label.text().toStdString();
    EXPECT_TRUE(label.text().contains(QChar(0x2026)));
}

}  // namespace
