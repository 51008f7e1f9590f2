// The one settings window: the two triggers, the after-capture switches, launch at login, the
// history folder (moving the stored screenshots with it) and how long screenshots are kept.
// Every change is committed at once through the settings store; there is no OK button. After
// every attempt, accepted or refused, each control is refreshed from the store, so the window
// always shows what is in force and a refused choice snaps back.
//
//   auto* controller = new SettingsWindowController(settings, relocate, expiredCount, HistoryFolderAccess::system());
//   controller->onClose = [...] { controller->deleteLater(); };
//   controller->show();   // later calls bring the same window forward
//
// Main thread only. Folder checks run in the background; alerts and the folder chooser are
// window-modal sheets opened with open(), never a nested event loop.
#pragma once

#include "history/HistoryFolderAccess.h"
#include "history/HistoryStoring.h"
#include "settings/SettingsStore.h"

#include <QObject>
#include <QPointer>

#include <functional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace quillet {

class BusySpinner;
class FolderPathLabel;
class PopUpButton;
class SettingsWindow;

class SettingsWindowController : public QObject {
    Q_OBJECT
public:
    // Moves the history into a folder; the future always finishes, failure in its value.
    using RelocateHistory = std::function<QFuture<HistoryResult>(const QString& folder)>;
    // How many stored screenshots a retention policy would delete now.
    using ExpiredCount = std::function<qint64(const RetentionPolicy& policy)>;

    // The indices of the key pop-ups: "Выключено", a separator, then the keys in ModifierKey order.
    static constexpr int offIndex = 0;
    static constexpr int firstKeyIndex = 2;
    // The tag of the retention item "Всегда".
    static constexpr int foreverTag = -1;

    SettingsWindowController(SettingsStore& settings, RelocateHistory relocateHistory, ExpiredCount expiredCount,
                             HistoryFolderAccess access, QObject* parent = nullptr);
    ~SettingsWindowController() override;

    // Called once the window has closed (and any move it started has finished); the owner
    // then drops the controller, with deleteLater().
    std::function<void()> onClose;

    // The first call fills the controls and shows the window; later calls bring it forward.
    void show();
    QWidget* window() const;
    bool isMoving() const { return moving; }

    // Moves the history into `folder` (what "Выбрать…" does once a folder is chosen).
    void moveHistory(const QString& folder);

Q_SIGNALS:
    // A move has ended, whatever its outcome; the quit path waits for it.
    void moveFinished();

private:
    void buildControls();
    void buildLayout();
    void refreshControls();
    void showTrigger(PopUpButton* keyPopUp, PopUpButton* sidePopUp, const std::optional<Trigger>& trigger,
                     const std::optional<Trigger>& other);
    std::optional<Trigger> readTrigger(const PopUpButton* keyPopUp, const PopUpButton* sidePopUp,
                                       const std::optional<Trigger>& other) const;
    void refreshRetention();
    void checkFolderVolume();

    void triggerChanged();
    void switchChanged();
    void retentionChanged(int index);
    void chooseFolder();
    void apply(const AppSettings& changed);

    void enterMovingState();
    void leaveMovingState();
    void showAlert(const QString& title, const QString& text);
    void windowClosed();

    SettingsStore& settings;
    RelocateHistory relocateHistory;
    ExpiredCount expiredCount;
    HistoryFolderAccess access;

    SettingsWindow* settingsWindow = nullptr;
    bool shown = false;
    PopUpButton* regionKeyPopUp = nullptr;
    PopUpButton* regionSidePopUp = nullptr;
    PopUpButton* fullScreenKeyPopUp = nullptr;
    PopUpButton* fullScreenSidePopUp = nullptr;
    QCheckBox* previewCheckbox = nullptr;
    QCheckBox* shutterSoundCheckbox = nullptr;
    QCheckBox* launchAtLoginCheckbox = nullptr;
    FolderPathLabel* folderLabel = nullptr;
    QPushButton* folderButton = nullptr;
    QLabel* folderStatusLabel = nullptr;
    BusySpinner* folderSpinner = nullptr;
    PopUpButton* retentionPopUp = nullptr;

    bool moving = false;
    bool closeAfterMove = false;
    // The running check of the folder's volume; a newer check cancels it.
    CancellationToken folderStatusTask;
};

}  // namespace quillet
