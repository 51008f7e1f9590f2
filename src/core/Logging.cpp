#include "core/Logging.h"

Q_LOGGING_CATEGORY(lcApp, "quillet.app")
Q_LOGGING_CATEGORY(lcCapture, "quillet.capture")
Q_LOGGING_CATEGORY(lcHotKeys, "quillet.hotkeys")
Q_LOGGING_CATEGORY(lcHistory, "quillet.history")
Q_LOGGING_CATEGORY(lcHistoryWindow, "quillet.history-window")
Q_LOGGING_CATEGORY(lcSettingsWindow, "quillet.settings-window")
Q_LOGGING_CATEGORY(lcLaunchAtLogin, "quillet.launch-at-login")
Q_LOGGING_CATEGORY(lcLatency, "quillet.latency")
