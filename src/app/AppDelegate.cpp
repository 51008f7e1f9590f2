#include "app/AppDelegate.h"

#include "ui/overlay/CaptureFlash.h"
#include "app/EditorLauncher.h"
#include "app/HistoryRecorder.h"
#include "app/ProcessMemory.h"
#include "ui/previews/PreviewStack.h"
#include "ui/history/HistoryWindowController.h"
#include "ui/overlay/RegionSelectionController.h"
#include "ui/overlay/RegionSelectionPanels.h"
#include "capture/ScreenCapturer.h"
#include "clipboard/ClipboardWriter.h"
#include "core/Async.h"
#include "core/Logging.h"
#include "history/HistoryStore.h"
#include "hotkeys/HotKeyMonitor.h"
#include "settings/LaunchAtLogin.h"
#include "settings/QSettingsPreferences.h"
#include "settings/SettingsStore.h"
#include "ui/settings/SettingsWindowController.h"
#include "ui/tray/StatusMenu.h"
#include "history/HistoryFolderAccess.h"

#include <QApplication>
#include <QClipboard>
#include <QSessionManager>
#include <QPointer>
#include <QTimeZone>

using namespace std::chrono_literals;

namespace quillet {

QSet<Trigger> AppDelegate::activeTriggers(const AppSettings& settings) {
    QSet<Trigger> triggers;
    if (settings.regionTrigger) triggers.insert(*settings.regionTrigger);
    if (settings.fullScreenTrigger) triggers.insert(*settings.fullScreenTrigger);
    return triggers;
}

AppDelegate::AppDelegate(PlatformServices& platform, QObject* parent)
    : QObject(parent),
      platform(platform),
      preferences(std::make_unique<QSettingsPreferences>()),
      settings(std::make_unique<SettingsStore>(*preferences, std::nullopt)),
      permissions(PermissionsGuide::Checks{
          .screenRecordingGranted = [desktop = platform.desktop] { return desktop->screenRecordingGranted(); },
          .inputMonitoringGranted = [tap = platform.eventTap] { return tap->preflightListenAccess(); },
          .removableVolumeAccess =
              [](const QString& folder) { return HistoryFolderAccess::system().removableVolumeAccess(folder); },
          .overlayShown = [this] { return coordinator && coordinator->isSelecting(); },
      }),
      clipboard(std::make_unique<ClipboardWriter>(*platform.pasteboard)),
      launchAtLogin(std::make_unique<LaunchAtLogin>(*platform.loginItem)),
      appliedSettings(settings->current()) {}

AppDelegate::~AppDelegate() {
    // The window refers to the settings store, which goes before the delegate's children do.
    delete settingsWindow;
    historyWindow.reset();
    // The coordinator's pending continuations refer to the capturer and the overlay panels.
    coordinator.reset();
    hotKeys.reset();
}

void AppDelegate::launch() {
    capturer = std::make_unique<ScreenCapturer>(platform.contentSource);
    CompositorWatching* compositor = platform.compositor.get();
    flash = std::make_unique<CaptureFlash>(*platform.windowStyling,
                                           [compositor] { return compositor->compositingManagerRunning(); });
    // One set of overlay windows serves every region capture, so only the first pays for them.
    overlayPanels = std::make_shared<RegionSelectionPanels>(platform.windowStyling->overlayFlags());
    ScreenCapturer* freezer = capturer.get();
    DisplayIdentifying* displays = platform.displays.get();
    auto panels = overlayPanels;
    coordinator = std::make_unique<CaptureCoordinator>(CaptureCoordinator::Services{
        *settings, permissions, *capturer, *clipboard, *platform.desktop, *flash, *platform.sounds,
        [freezer, displays, panels] { return std::make_shared<RegionSelectionController>(*freezer, *displays, panels); }});

    memoryTrim.setSingleShot(true);
    memoryTrim.setInterval(15s);
    connect(&memoryTrim, &QTimer::timeout, this, [] { (void)runInBackground([] { returnFreedMemoryToTheSystem(); }); });
    coordinator->onDelivered = [this] { memoryTrim.start(); };

    SettingsStore* source = settings.get();
    permissions.historyFolder = [source] { return source->current().historyFolder; };
    statusMenu = std::make_unique<StatusMenu>(*settings, permissions, platform.panelTheme.get());
    setUpHistory();
    setUpMenu();

    hotKeys = std::make_unique<HotKeyMonitor>(activeTriggers(settings->current()), *platform.eventTap);
    hotKeys->onTrigger = [this](Trigger trigger) { route(trigger); };
    startHotKeys();

    coordinator->warmUp();
    connect(settings.get(), &SettingsStore::changed, this, &AppDelegate::apply);
    launchAtLogin->syncAtLaunch(*settings);
    QPointer<AppDelegate> self(this);
    permissions.onChange = [self] {
        if (!self) return;
        self->startHotKeys();
        self->statusMenu->refresh();
    };
    statusMenu->refresh();
    statusMenu->show();
    // Quillet starts at login through its autostart entry; a session manager restarting it
    // as well would make two.
    connect(qApp, &QGuiApplication::saveStateRequest, this,
            [](QSessionManager& manager) { manager.setRestartHint(QSessionManager::RestartNever); });
    // Every way out waits for history writes; the last moment still makes the clipboard real.
    qApp->installEventFilter(this);
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] { clipboard->resolvePendingPromises(); });

    // Last, so the guide opens over a fully wired application. A missing permission is not an
    // error: the guide says what to do.
    if (!permissions.allGranted()) permissions.showWindow();
    permissions.refreshRemovableVolumes(true);
}

void AppDelegate::setUpMenu() {
    CaptureCoordinator* captures = coordinator.get();
    QPointer<AppDelegate> self(this);
    statusMenu->onGrantPermissions = [self] {
        if (self) self->permissions.showWindow();
    };
    statusMenu->onCaptureRegion = [captures] { captures->captureRegion(); };
    statusMenu->onCaptureFullScreen = [captures] { captures->captureFullScreen(); };
    statusMenu->onShowHistory = [self] {
        if (self) self->showHistory();
    };
    statusMenu->onShowSettings = [self] {
        if (self) self->showSettings();
    };
    statusMenu->onQuit = [self] {
        if (self) self->quit();
    };
    // A tray application rarely becomes the active one; opening its menu counts instead.
    statusMenu->onOpen = [self] {
        if (self) self->permissions.attentionReceived();
    };
}

void AppDelegate::setUpHistory() {
    store = std::make_shared<HistoryStore>(settings->current().historyFolder, HistoryStore::defaultThumbnailsFolder(),
                                           [] { return QDateTime::currentDateTimeUtc(); }, QTimeZone::systemTimeZone());
    SettingsStore* source = settings.get();
    recorder = std::make_shared<HistoryRecorder>(store, [source] { return source->current().retention; });
    connect(recorder.get(), &HistoryRecorder::failureChanged, this,
            [this](const std::optional<QString>& message) { statusMenu->showHistoryWarning(message); });
    coordinator->setHistory(recorder);

    previews = std::make_shared<PreviewStack>(
        *clipboard, PreviewStack::Desktop{*platform.displays, *platform.workArea, *platform.windowStyling,
                                          *platform.compositor, *platform.fileManager});
    previews->historyFileURL = [target = store.get()](const Screenshot& screenshot) { return target->fileURL(screenshot); };
    previews->warmUp();
    coordinator->setPreviews(previews);

    editor = std::make_unique<EditorLauncher>(EditorLauncher::Services{
        *recorder, *store, *clipboard, *platform.sounds, *platform.desktop, platform.workArea.get(),
        [source] { return source->current().showPreview; }});
    editor->previews = previews;
    previews->onEdit = [self = QPointer<AppDelegate>(this)](const Screenshot& screenshot) {
        if (self) self->openEditor(screenshot);
    };

    runOnMainThread(this, [target = recorder] { (void)target->start(); });
}

void AppDelegate::startHotKeys() {
    if (hotKeys->isRunning()) return;
    if (!hotKeys->start()) qCCritical(lcHotKeys).noquote() << QStringLiteral("Перехватчик клавиш не запустился");
}

void AppDelegate::route(const Trigger& trigger) {
    // The live settings decide, so a trigger fired while they change goes where they say now.
    const AppSettings current = settings->current();
    if (current.regionTrigger && *current.regionTrigger == trigger) {
        coordinator->captureRegion();
    } else if (current.fullScreenTrigger && *current.fullScreenTrigger == trigger) {
        coordinator->captureFullScreen();
    }
}

void AppDelegate::apply(const AppSettings& updated) {
    const AppSettings old = appliedSettings;
    appliedSettings = updated;
    hotKeys->setTriggers(activeTriggers(updated));
    statusMenu->refresh();
    if (old.historyFolder != updated.historyFolder) permissions.refreshRemovableVolumes(false);
    if (old.retention != updated.retention) (void)recorder->applyRetentionNow();
    launchAtLogin->applyChange(old, updated, *settings);
}

void AppDelegate::perform(const CommandLine& line) {
    if (quitting) return;
    switch (line.capture) {
    case CommandLine::Capture::region: coordinator->captureRegion(); break;
    case CommandLine::Capture::fullScreen: coordinator->captureFullScreen(); break;
    case CommandLine::Capture::none: break;
    }
}

void AppDelegate::showHistory() {
    if (!historyWindow) {
        historyWindow = std::make_unique<HistoryWindowController>(HistoryWindowController::Services{
            *store, *clipboard, *platform.fileManager, *platform.sounds, *platform.desktop});
        QPointer<AppDelegate> self(this);
        historyWindow->onClose = [self] {
            // Called from inside the controller, so it goes away once that call has returned.
            if (self && self->historyWindow) self->historyWindow.release()->deleteLater();
        };
        historyWindow->onOpenInEditor = [self](const Screenshot& screenshot) {
            if (self) self->openEditor(screenshot);
        };
    }
    historyWindow->show();
}

void AppDelegate::showSettings() {
    if (!settingsWindow) {
        auto expiredCount = [target = store](const RetentionPolicy& policy) {
            return qint64(target->expiredCount(policy, QDateTime::currentDateTimeUtc()));
        };
        settingsWindow = new SettingsWindowController(
            *settings, [this](const QString& folder) { return relocateHistory(folder); }, std::move(expiredCount),
            HistoryFolderAccess::system(), this);
        QPointer<AppDelegate> self(this);
        connect(settingsWindow, &SettingsWindowController::moveFinished, this, &AppDelegate::finishQuitWhenIdle);
        settingsWindow->onClose = [self] {
            if (!self || !self->settingsWindow) return;
            // Called from the window's own close handling: the controller goes once that returns.
            self->settingsWindow->deleteLater();
            self->settingsWindow = nullptr;
        };
    }
    settingsWindow->show();
}

QFuture<HistoryResult> AppDelegate::relocateHistory(const QString& folder) {
    SharedPromise<HistoryResult> moved;
    ++runningMoves;
    store->relocate(folder).then(this, [this, folder, moved](HistoryResult result) mutable {
        --runningMoves;
        if (result) {
            AppSettings updated = settings->current();
            updated.historyFolder = folder;
            (void)settings->update(updated);
        }
        moved.finish(result);
        finishQuitWhenIdle();
    });
    return moved.future();
}

void AppDelegate::openEditor(const Screenshot& screenshot) {
    if (editor) editor->open(screenshot);
}

void AppDelegate::quit() {
    if (quitting) return;
    quitting = true;
    finishQuitWhenIdle();
}

bool AppDelegate::moveRunning() const {
    // The window's part counts too: a folder being checked is about to be moved into.
    return runningMoves > 0 || (settingsWindow && settingsWindow->isMoving());
}

void AppDelegate::finishQuitWhenIdle() {
    // A move is not cut short by the three seconds: its end is what saves the new folder, and a
    // history that moved without it would look empty at the next start.
    if (!quitting || quitWaitsForWrites || moveRunning()) return;
    quitWaitsForWrites = true;
    recorder->pendingWrites().waitUntilDone(3s).then(this, [this](bool allDone) {
        if (!allDone) {
            qCCritical(lcApp).noquote()
                << QStringLiteral("Выход: запись снимка в историю не успела закончиться за 3 секунды");
        }
        // The promised PNG becomes real data that a clipboard manager can keep after we exit.
        clipboard->resolvePendingPromises();
        mayQuit = true;
        // exit(), not quit(): quit() first asks every window to close, and an editor with
        // unsaved changes answers with its question and refuses, which would leave us running.
        QCoreApplication::exit(0);
    });
}

bool AppDelegate::eventFilter(QObject* watched, QEvent* event) {
    if (watched == qApp && event->type() == QEvent::Quit && !mayQuit && recorder) {
        quit();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

}  // namespace quillet
