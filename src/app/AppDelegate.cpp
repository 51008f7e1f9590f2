#include "app/AppDelegate.h"

#include "app/CaptureFlash.h"
#include "app/HistoryRecorder.h"
#include "app/PreviewStack.h"
#include "app/RegionSelectionController.h"
#include "app/RegionSelectionPanels.h"
#include "capture/ScreenCapturer.h"
#include "clipboard/ClipboardWriter.h"
#include "core/Async.h"
#include "core/Logging.h"
#include "history/HistoryStore.h"
#include "hotkeys/HotKeyMonitor.h"
#include "platform/x11/ShutterSound.h"
#include "platform/x11/X11ContentSource.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Pasteboard.h"
#include "platform/x11/XInputEventTap.h"
#include "platform/x11/XdgAutostartEntry.h"
#include "settings/LaunchAtLogin.h"
#include "settings/QSettingsPreferences.h"
#include "settings/SettingsStore.h"

#include <QApplication>
#include <QClipboard>
#include <QPainter>
#include <QPointer>
#include <QTimeZone>

using namespace std::chrono_literals;

namespace quillet {

namespace {

// The tray icon: a camera outline, with a red "!" badge while the history has a warning.
QIcon trayIcon(bool warning) {
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(235, 235, 235), 5));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(6, 16, 52, 38), 8, 8);
    painter.drawEllipse(QPointF(32, 35), 10, 10);
    painter.drawLine(QPointF(22, 16), QPointF(26, 9));
    painter.drawLine(QPointF(26, 9), QPointF(38, 9));
    painter.drawLine(QPointF(38, 9), QPointF(42, 16));
    if (warning) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(220, 40, 40));
        painter.drawEllipse(QRectF(34, 30, 30, 30));
        painter.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(49, 37), QPointF(49, 47));
        painter.drawPoint(QPointF(49, 54));
    }
    return QIcon(pixmap);
}

QString keyName(ModifierKey key) {
    switch (key) {
    case ModifierKey::control: return QStringLiteral("Ctrl");
    case ModifierKey::option: return QStringLiteral("Alt");
    case ModifierKey::command: return QStringLiteral("Super");
    case ModifierKey::shift: return QStringLiteral("Shift");
    }
    return {};
}

QString titled(const QString& text, const std::optional<Trigger>& trigger) {
    // Qt draws what follows the tab right-aligned in the menu's shortcut column.
    return trigger ? text + QLatin1Char('\t') + AppDelegate::menuSymbol(*trigger) : text;
}

}  // namespace

QString AppDelegate::menuSymbol(const Trigger& trigger) {
    QString symbol = keyName(trigger.key) + QStringLiteral(" ×2");
    if (trigger.side == KeySide::left) symbol += QStringLiteral(" слева");
    if (trigger.side == KeySide::right) symbol += QStringLiteral(" справа");
    return symbol;
}

QSet<Trigger> AppDelegate::activeTriggers(const AppSettings& settings) {
    QSet<Trigger> triggers;
    if (settings.regionTrigger) triggers.insert(*settings.regionTrigger);
    if (settings.fullScreenTrigger) triggers.insert(*settings.fullScreenTrigger);
    return triggers;
}

AppDelegate::AppDelegate(QObject* parent)
    : QObject(parent),
      preferences(std::make_unique<QSettingsPreferences>()),
      settings(std::make_unique<SettingsStore>(*preferences, std::nullopt)),
      pasteboard(std::make_unique<X11Pasteboard>(QGuiApplication::clipboard())),
      clipboard(std::make_unique<ClipboardWriter>(*pasteboard)),
      loginItem(std::make_unique<XdgAutostartEntry>()),
      launchAtLogin(std::make_unique<LaunchAtLogin>(*loginItem)),
      appliedSettings(settings->current()) {}

AppDelegate::~AppDelegate() {
    // The coordinator's pending continuations refer to the capturer and the overlay panels.
    coordinator.reset();
    hotKeys.reset();
}

void AppDelegate::launch() {
    contentSource = std::make_shared<X11ContentSource>();
    capturer = std::make_unique<ScreenCapturer>(contentSource);
    desktop = std::make_unique<X11Desktop>();
    sounds = std::make_unique<ShutterSound>();
    flash = std::make_unique<CaptureFlash>(&X11Desktop::compositingManagerRunning);
    // One set of overlay windows serves every region capture, so only the first pays for them.
    overlayPanels = std::make_shared<RegionSelectionPanels>();
    ScreenCapturer* freezer = capturer.get();
    auto panels = overlayPanels;
    coordinator = std::make_unique<CaptureCoordinator>(CaptureCoordinator::Services{
        *settings, permissions, *capturer, *clipboard, *desktop, *flash, *sounds,
        [freezer, panels] { return std::make_shared<RegionSelectionController>(*freezer, panels); }});

    setUpMenu();
    setUpHistory();

    eventTap = std::make_unique<XInputEventTap>();
    permissions.inputMonitoringGranted = [tap = eventTap.get()] { return tap->preflightListenAccess(); };
    hotKeys = std::make_unique<HotKeyMonitor>(activeTriggers(settings->current()), *eventTap);
    hotKeys->onTrigger = [this](Trigger trigger) { route(trigger); };
    startHotKeys();

    coordinator->warmUp();
    QPointer<AppDelegate> self(this);
    settings->onChange = [self](const AppSettings& updated) {
        if (self) self->apply(updated);
    };
    launchAtLogin->syncAtLaunch(*settings);
    refreshMenu();
    if (!permissions.inputMonitoringGranted()) permissions.showWindow();
}

void AppDelegate::setUpMenu() {
    warningItem = menu.addAction(QString());
    warningItem->setEnabled(false);
    warningSeparator = menu.addSeparator();
    regionItem = menu.addAction(QStringLiteral("Снимок области"));
    fullScreenItem = menu.addAction(QStringLiteral("Снимок экрана"));
    menu.addSeparator();
    QAction* quitItem = menu.addAction(QStringLiteral("Выйти Quillet"));
    connect(regionItem, &QAction::triggered, this, [this] { coordinator->captureRegion(); });
    connect(fullScreenItem, &QAction::triggered, this, [this] { coordinator->captureFullScreen(); });
    connect(quitItem, &QAction::triggered, this, &AppDelegate::quit);
    connect(&menu, &QMenu::aboutToShow, this, &AppDelegate::refreshMenu);
    showHistoryWarning(std::nullopt);
    tray.setToolTip(QStringLiteral("Quillet"));
    tray.setContextMenu(&menu);
    tray.show();
}

void AppDelegate::refreshMenu() {
    const AppSettings current = settings->current();
    regionItem->setText(titled(QStringLiteral("Снимок области"), current.regionTrigger));
    fullScreenItem->setText(titled(QStringLiteral("Снимок экрана"), current.fullScreenTrigger));
}

void AppDelegate::showHistoryWarning(const std::optional<QString>& message) {
    warningItem->setText(message.value_or(QString()));
    warningItem->setVisible(message.has_value());
    warningSeparator->setVisible(message.has_value());
    tray.setIcon(trayIcon(message.has_value()));
}

void AppDelegate::setUpHistory() {
    store = std::make_shared<HistoryStore>(settings->current().historyFolder, HistoryStore::defaultThumbnailsFolder(),
                                           [] { return QDateTime::currentDateTimeUtc(); }, QTimeZone::systemTimeZone());
    SettingsStore* source = settings.get();
    recorder = std::make_shared<HistoryRecorder>(store, [source] { return source->current().retention; });
    connect(recorder.get(), &HistoryRecorder::failureChanged, this, &AppDelegate::showHistoryWarning);
    coordinator->setHistory(recorder);

    previews = std::make_shared<PreviewStack>(*clipboard);
    previews->historyFileURL = [target = store.get()](const Screenshot& screenshot) { return target->fileURL(screenshot); };
    previews->warmUp();
    coordinator->setPreviews(previews);

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
    refreshMenu();
    if (old.retention != updated.retention) (void)recorder->applyRetentionNow();
    launchAtLogin->applyChange(old, updated, *settings);
}

void AppDelegate::quit() {
    if (quitting) return;
    quitting = true;
    recorder->pendingWrites().waitUntilDone(3s).then(this, [this](bool allDone) {
        if (!allDone) {
            qCCritical(lcApp).noquote()
                << QStringLiteral("Выход: запись снимка в историю не успела закончиться за 3 секунды");
        }
        // The promised PNG becomes real data that a clipboard manager can keep after we exit.
        clipboard->resolvePendingPromises();
        QCoreApplication::quit();
    });
}

}  // namespace quillet
