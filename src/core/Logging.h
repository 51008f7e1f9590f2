// The application's logging categories, one per area. Failures are logged as a Russian text
// with the error's description; interval timings go to "quillet.latency".
#pragma once

#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcApp)
Q_DECLARE_LOGGING_CATEGORY(lcCapture)
Q_DECLARE_LOGGING_CATEGORY(lcHotKeys)
Q_DECLARE_LOGGING_CATEGORY(lcHistory)
Q_DECLARE_LOGGING_CATEGORY(lcHistoryWindow)
Q_DECLARE_LOGGING_CATEGORY(lcSettingsWindow)
Q_DECLARE_LOGGING_CATEGORY(lcLaunchAtLogin)
Q_DECLARE_LOGGING_CATEGORY(lcLatency)
