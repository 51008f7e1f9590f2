// Builds every long-lived object of the running application in a fixed order and connects
// them: settings, clipboard, capturer and coordinator, the tray menu, previews, history, the hot
// keys and launch at login. It applies settings changes at run time and holds the quit until
// history writes are done (at most three seconds) and the clipboard's promised bytes are real.
//
//   AppDelegate delegate(*platform);   // the back-end the loader picked
//   delegate.launch();
//   return app.exec();
//
// Main thread only; the only place that knows all the parts.
#pragma once

#include "app/CaptureCoordinator.h"
#include "history/HistoryStoring.h"
#include "app/CommandLine.h"
#include "platform/PlatformServices.h"
#include "settings/AppSettings.h"
#include "ui/tray/PermissionsGuide.h"

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QTimer>

#include <memory>

namespace quillet {

class CaptureFlash;
class ClipboardWriter;
class EditorLauncher;
class HistoryRecorder;
class HistoryStore;
class HistoryWindowController;
class HotKeyMonitor;
class LaunchAtLogin;
class PreviewStack;
class QSettingsPreferences;
class RegionSelectionPanels;
class ScreenCapturer;
class SettingsStore;
class SettingsWindowController;
class StatusMenu;

class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(PlatformServices& platform, QObject* parent = nullptr);
    ~AppDelegate() override;

    void launch();
    // Waits for a running history move, then for history writes (three seconds at most), makes
    // the clipboard concrete, quits.
    void quit();

    // One window each: a second call brings the open one to the front.
    void showHistory();
    void showSettings();
    // Opens the editor on a stored screenshot (from a preview or the history window).
    void openEditor(const Screenshot& screenshot);

    // A command line given to this process or handed over by a later start: starts the
    // capture it asks for, if any.
    void perform(const CommandLine& line);

    // The triggers the hot keys listen for: region first, then full screen.
    static QSet<Trigger> activeTriggers(const AppSettings& settings);

protected:
    // Catches a quit that bypasses quit() (the session manager ending the session) and routes
    // it through the waiting path.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setUpHistory();
    void setUpMenu();
    void startHotKeys();
    void route(const Trigger& trigger);
    void apply(const AppSettings& updated);
    // Moves the history for the settings window and saves the new folder as soon as the store
    // has switched, so a quit right after the move never leaves the setting behind the files.
    QFuture<HistoryResult> relocateHistory(const QString& folder);
    bool moveRunning() const;
    // Goes on with a requested quit once no history move runs.
    void finishQuitWhenIdle();

    PlatformServices& platform;
    std::unique_ptr<QSettingsPreferences> preferences;
    std::unique_ptr<SettingsStore> settings;
    PermissionsGuide permissions;
    std::unique_ptr<ClipboardWriter> clipboard;
    std::unique_ptr<LaunchAtLogin> launchAtLogin;

    std::unique_ptr<ScreenCapturer> capturer;
    std::unique_ptr<CaptureFlash> flash;
    std::shared_ptr<RegionSelectionPanels> overlayPanels;
    std::unique_ptr<CaptureCoordinator> coordinator;
    // Started again by every capture; when it runs out, the capture's encoding, storing and
    // previews are over and the memory they freed goes back to the system.
    QTimer memoryTrim;

    std::unique_ptr<HotKeyMonitor> hotKeys;  // over the platform's event tap

    std::shared_ptr<HistoryStore> store;
    std::shared_ptr<HistoryRecorder> recorder;
    std::shared_ptr<PreviewStack> previews;
    std::unique_ptr<EditorLauncher> editor;  // goes before the recorder and previews it uses
    std::unique_ptr<HistoryWindowController> historyWindow;  // while the history window is open

    std::unique_ptr<StatusMenu> statusMenu;

    // Present while the settings window is open; deleted later once it has closed.
    QPointer<SettingsWindowController> settingsWindow;

    AppSettings appliedSettings;
    bool quitting = false;
    bool quitWaitsForWrites = false;
    int runningMoves = 0;  // store moves under way
    bool mayQuit = false;  // the quit path has finished: the application's own quit goes through
};

}  // namespace quillet
