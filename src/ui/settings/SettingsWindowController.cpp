#include "ui/settings/SettingsWindowController.h"

#include "core/Logging.h"
#include "settings/TriggerRules.h"
#include "ui/settings/BusySpinner.h"
#include "ui/settings/FolderPathLabel.h"
#include "ui/settings/PopUpButton.h"
#include "ui/settings/SettingsTexts.h"
#include "ui/settings/SettingsWindow.h"
#include "ui/widgets/InvokeCallback.h"

#include <QCheckBox>
#include <QCursor>
#include <QDir>
#include <QFileDialog>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

namespace quillet {

namespace {

// The regular retention choices, in the order the pop-up lists them; "Всегда" follows.
constexpr int regularRetentionDays[] = {7, 30, 90, 365};

const char* caseName(SettingsError error) {
    switch (error) {
    case SettingsError::overlappingTriggers: return "overlappingTriggers";
    case SettingsError::retentionOutOfRange: return "retentionOutOfRange";
    }
    return "unknown";
}

QString standardized(const QString& folder) { return QDir::cleanPath(QDir::fromNativeSeparators(folder)); }

// True when `folder` lies below `parent` (not when it is `parent` itself).
bool isInside(const QString& folder, const QString& parent) {
    const QString prefix = parent.endsWith(QLatin1Char('/')) ? parent : parent + QLatin1Char('/');
    return folder.startsWith(prefix) && folder.size() > prefix.size();
}

QColor secondaryTextColour(const QWidget* widget) {
    QColor colour = widget->palette().color(QPalette::WindowText);
    colour.setAlphaF(0.55f);
    return colour;
}

const QColor statusRed(198, 40, 40);

void setTextColour(QLabel* label, const QColor& colour) {
    QPalette colours = label->palette();
    colours.setColor(QPalette::WindowText, colour);
    label->setPalette(colours);
}

// QMessageBox sizes itself by its bold first line, so a short title squeezes a long explanation
// into a narrow column; a spacer across the bottom gives the text room for two or three lines.
void widen(QMessageBox* box) {
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout())) {
        grid->addItem(new QSpacerItem(380, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
}

QFont smallFont(const QWidget* widget) {
    QFont font = widget->font();
    font.setPointSizeF(font.pointSizeF() * 0.85);
    return font;
}

}  // namespace

SettingsWindowController::SettingsWindowController(SettingsStore& settings, RelocateHistory relocateHistory,
                                                   ExpiredCount expiredCount, HistoryFolderAccess access,
                                                   QObject* parent)
    : QObject(parent),
      settings(settings),
      relocateHistory(std::move(relocateHistory)),
      expiredCount(std::move(expiredCount)),
      access(std::move(access)) {
    buildControls();
    buildLayout();
    // Someone else may change the settings while the window is open (launch at login corrected
    // to the system's state, for one); the window follows.
    connect(&settings, &SettingsStore::changed, this, [this] {
        if (shown) refreshControls();
    });
}

SettingsWindowController::~SettingsWindowController() {
    folderStatusTask.cancel();
    delete settingsWindow;
}

QWidget* SettingsWindowController::window() const { return settingsWindow; }

void SettingsWindowController::buildControls() {
    settingsWindow = new SettingsWindow;
    connect(settingsWindow, &SettingsWindow::closed, this, &SettingsWindowController::windowClosed);

    const auto keyPopUp = [this](const char* name) {
        auto* popUp = new PopUpButton(settingsWindow);
        popUp->setObjectName(QLatin1String(name));
        popUp->addItem(QStringLiteral("Выключено"));
        popUp->insertSeparator(1);
        for (const ModifierKey key : allModifierKeys) popUp->addItem(SettingsTexts::keyTitle(key));
        connect(popUp, &PopUpButton::chosen, this, &SettingsWindowController::triggerChanged);
        return popUp;
    };
    const auto sidePopUp = [this](const char* name) {
        auto* popUp = new PopUpButton(settingsWindow);
        popUp->setObjectName(QLatin1String(name));
        for (const KeySide side : allKeySides) popUp->addItem(SettingsTexts::sideTitle(side));
        connect(popUp, &PopUpButton::chosen, this, &SettingsWindowController::triggerChanged);
        return popUp;
    };
    regionKeyPopUp = keyPopUp("regionKeyPopUp");
    regionSidePopUp = sidePopUp("regionSidePopUp");
    fullScreenKeyPopUp = keyPopUp("fullScreenKeyPopUp");
    fullScreenSidePopUp = sidePopUp("fullScreenSidePopUp");

    const auto checkbox = [this](const QString& title, const char* name) {
        auto* box = new QCheckBox(title, settingsWindow);
        box->setObjectName(QLatin1String(name));
        // Only the user's clicks count; a refresh that sets the state is not a change.
        connect(box, &QCheckBox::clicked, this, &SettingsWindowController::switchChanged);
        return box;
    };
    previewCheckbox = checkbox(QStringLiteral("Показывать превью после снимка"), "previewCheckbox");
    shutterSoundCheckbox = checkbox(QStringLiteral("Звук затвора"), "shutterSoundCheckbox");
    launchAtLoginCheckbox = checkbox(QStringLiteral("Запускать при входе в систему"), "launchAtLoginCheckbox");

    folderLabel = new FolderPathLabel(settingsWindow);
    folderLabel->setObjectName(QStringLiteral("folderLabel"));
    folderButton = new QPushButton(QStringLiteral("Выбрать…"), settingsWindow);
    folderButton->setObjectName(QStringLiteral("folderButton"));
    folderButton->setAutoDefault(false);
    connect(folderButton, &QPushButton::clicked, this, &SettingsWindowController::chooseFolder);
    folderStatusLabel = new QLabel(settingsWindow);
    folderStatusLabel->setObjectName(QStringLiteral("folderStatusLabel"));
    folderStatusLabel->setFont(smallFont(settingsWindow));
    setTextColour(folderStatusLabel, statusRed);
    folderSpinner = new BusySpinner(settingsWindow);
    folderSpinner->setObjectName(QStringLiteral("folderSpinner"));

    retentionPopUp = new PopUpButton(settingsWindow);
    retentionPopUp->setObjectName(QStringLiteral("retentionPopUp"));
    connect(retentionPopUp, &PopUpButton::chosen, this, &SettingsWindowController::retentionChanged);
}

void SettingsWindowController::buildLayout() {
    auto* grid = new QGridLayout(settingsWindow);
    grid->setContentsMargins(24, 24, 24, 24);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(12);
    // The window takes the size its content needs and keeps it.
    grid->setSizeConstraint(QLayout::SetFixedSize);

    const auto title = [this](const QString& text) {
        auto* label = new QLabel(text, settingsWindow);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return label;
    };
    const auto pair = [this](QWidget* first, QWidget* second) {
        auto* row = new QHBoxLayout;
        row->setSpacing(8);
        row->addWidget(first);
        row->addWidget(second);
        row->addStretch(1);
        return row;
    };
    const Qt::Alignment trailing = Qt::AlignRight | Qt::AlignVCenter;
    const Qt::Alignment leading = Qt::AlignLeft | Qt::AlignVCenter;

    auto* hint = new QLabel(QStringLiteral("Снимок запускается двойным нажатием клавиши."), settingsWindow);
    hint->setFont(smallFont(settingsWindow));
    setTextColour(hint, secondaryTextColour(settingsWindow));
    // The hint stands a little apart from the rows it explains.
    hint->setContentsMargins(0, 0, 0, 4);
    grid->addWidget(hint, 0, 1, leading);

    grid->addWidget(title(QStringLiteral("Снимок области:")), 1, 0, trailing);
    grid->addLayout(pair(regionKeyPopUp, regionSidePopUp), 1, 1);
    grid->addWidget(title(QStringLiteral("Снимок экрана:")), 2, 0, trailing);
    grid->addLayout(pair(fullScreenKeyPopUp, fullScreenSidePopUp), 2, 1);
    grid->addWidget(title(QStringLiteral("После снимка:")), 3, 0, trailing);
    grid->addWidget(previewCheckbox, 3, 1, leading);
    grid->addWidget(shutterSoundCheckbox, 4, 1, leading);
    grid->addWidget(title(QStringLiteral("Запуск:")), 5, 0, trailing);
    grid->addWidget(launchAtLoginCheckbox, 5, 1, leading);

    // The folder's title lines up with the path and button, not with the status below them.
    QLabel* folderTitle = title(QStringLiteral("Папка истории:"));
    folderTitle->setMinimumHeight(folderButton->sizeHint().height());
    grid->addWidget(folderTitle, 6, 0, Qt::AlignRight | Qt::AlignTop);
    auto* folderRow = new QHBoxLayout;
    folderRow->setSpacing(8);
    folderRow->addWidget(folderLabel, 0, Qt::AlignVCenter);
    folderRow->addWidget(folderSpinner, 0, Qt::AlignVCenter);
    folderRow->addWidget(folderButton, 0, Qt::AlignVCenter);
    folderRow->addStretch(1);
    auto* folderColumn = new QVBoxLayout;
    folderColumn->setSpacing(4);
    folderColumn->addLayout(folderRow);
    folderColumn->addWidget(folderStatusLabel, 0, Qt::AlignLeft);
    grid->addLayout(folderColumn, 6, 1);

    grid->addWidget(title(QStringLiteral("Хранить снимки:")), 7, 0, trailing);
    grid->addWidget(retentionPopUp, 7, 1, leading);
}

void SettingsWindowController::show() {
    closeAfterMove = false;
    if (!shown) {
        shown = true;
        refreshControls();
        settingsWindow->adjustSize();
        const QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
        if (!screen) screen = QGuiApplication::primaryScreen();
        if (screen) {
            QRect frame = settingsWindow->geometry();
            frame.moveCenter(screen->availableGeometry().center());
            settingsWindow->move(frame.topLeft());
        }
    }
    settingsWindow->show();
    settingsWindow->raise();
    settingsWindow->activateWindow();
}

void SettingsWindowController::refreshControls() {
    const AppSettings current = settings.current();
    showTrigger(regionKeyPopUp, regionSidePopUp, current.regionTrigger, current.fullScreenTrigger);
    showTrigger(fullScreenKeyPopUp, fullScreenSidePopUp, current.fullScreenTrigger, current.regionTrigger);
    previewCheckbox->setChecked(current.showPreview);
    shutterSoundCheckbox->setChecked(current.playShutterSound);
    launchAtLoginCheckbox->setChecked(current.launchAtLogin);
    folderLabel->setPath(standardized(current.historyFolder));
    checkFolderVolume();
    refreshRetention();
}

void SettingsWindowController::showTrigger(PopUpButton* keyPopUp, PopUpButton* sidePopUp,
                                           const std::optional<Trigger>& trigger, const std::optional<Trigger>& other) {
    const QList<ModifierKey> keys = TriggerRules::availableKeys(other);
    keyPopUp->setItemEnabled(offIndex, true);
    for (int k = 0; k < int(allModifierKeys.size()); ++k) {
        keyPopUp->setItemEnabled(firstKeyIndex + k, keys.contains(allModifierKeys[k]));
    }
    if (!trigger) {
        keyPopUp->setCurrentIndex(offIndex);
        sidePopUp->setEnabled(false);
        return;
    }
    keyPopUp->setCurrentIndex(firstKeyIndex + int(std::find(allModifierKeys.begin(), allModifierKeys.end(), trigger->key) -
                                                  allModifierKeys.begin()));
    sidePopUp->setEnabled(true);
    const QList<KeySide> sides = TriggerRules::availableSides(trigger->key, other);
    for (int s = 0; s < int(allKeySides.size()); ++s) sidePopUp->setItemEnabled(s, sides.contains(allKeySides[s]));
    sidePopUp->setCurrentIndex(
        int(std::find(allKeySides.begin(), allKeySides.end(), trigger->side) - allKeySides.begin()));
}

std::optional<Trigger> SettingsWindowController::readTrigger(const PopUpButton* keyPopUp, const PopUpButton* sidePopUp,
                                                             const std::optional<Trigger>& other) const {
    const int keyIndex = keyPopUp->currentIndex();
    const int lastKeyIndex = firstKeyIndex + int(allModifierKeys.size()) - 1;
    if (keyIndex < firstKeyIndex || keyIndex > lastKeyIndex) return std::nullopt;
    const int sideIndex = sidePopUp->currentIndex();
    const KeySide side = sideIndex >= 0 && sideIndex < int(allKeySides.size()) ? allKeySides[sideIndex] : KeySide::any;
    // A key whose chosen side is taken moves to its first free side.
    return TriggerRules::adjusted(Trigger{allModifierKeys[keyIndex - firstKeyIndex], side}, other);
}

void SettingsWindowController::refreshRetention() {
    const RetentionPolicy retention = settings.current().retention;
    retentionPopUp->clear();
    const std::optional<std::int64_t> days = retention.dayCountValue();
    const bool regular = !days || std::find(std::begin(regularRetentionDays), std::end(regularRetentionDays), *days) !=
                                      std::end(regularRetentionDays);
    // A period set outside this window still shows as what it is, first in the list.
    if (!regular) retentionPopUp->addTaggedItem(SettingsTexts::retentionTitle(retention, false), int(*days));
    for (const int regularDays : regularRetentionDays) {
        retentionPopUp->addTaggedItem(SettingsTexts::retentionTitle(RetentionPolicy::days(regularDays), true), regularDays);
    }
    retentionPopUp->addTaggedItem(SettingsTexts::retentionTitle(RetentionPolicy::forever(), true), foreverTag);
    retentionPopUp->setCurrentIndex(retentionPopUp->indexOfTag(days ? int(*days) : foreverTag));
}

void SettingsWindowController::checkFolderVolume() {
    folderStatusTask.cancel();
    folderStatusTask = CancellationToken();
    const CancellationToken task = folderStatusTask;
    runInBackground([checker = access, folder = settings.current().historyFolder, task]() -> std::optional<bool> {
        if (task.isCancelled()) return std::nullopt;
        return checker.isVolumeMounted(folder);
    }).then(this, [this, task](std::optional<bool> mounted) {
        if (!mounted || task.isCancelled() || moving) return;
        folderStatusLabel->setText(*mounted ? QString() : QStringLiteral("Диск с историей не подключён"));
    });
}

void SettingsWindowController::triggerChanged() {
    AppSettings changed = settings.current();
    changed.regionTrigger = readTrigger(regionKeyPopUp, regionSidePopUp, changed.fullScreenTrigger);
    changed.fullScreenTrigger = readTrigger(fullScreenKeyPopUp, fullScreenSidePopUp, changed.regionTrigger);
    apply(changed);
}

void SettingsWindowController::switchChanged() {
    AppSettings changed = settings.current();
    changed.showPreview = previewCheckbox->isChecked();
    changed.playShutterSound = shutterSoundCheckbox->isChecked();
    changed.launchAtLogin = launchAtLoginCheckbox->isChecked();
    apply(changed);
}

void SettingsWindowController::retentionChanged(int index) {
    const int tag = index >= 0 ? retentionPopUp->tagAt(index) : foreverTag;
    const RetentionPolicy policy = tag == foreverTag ? RetentionPolicy::forever() : RetentionPolicy::days(tag);
    AppSettings changed = settings.current();
    // Picking the period already in force deletes nothing, so there is nothing to confirm.
    if (policy == changed.retention) {
        refreshControls();
        return;
    }
    changed.retention = policy;
    const qint64 doomed = expiredCount(policy);
    if (doomed < 1) {
        apply(changed);
        return;
    }
    auto* question = new QMessageBox(QMessageBox::Warning, QStringLiteral("Настройки Quillet"),
                                     SettingsTexts::deletionQuestion(doomed), QMessageBox::NoButton, settingsWindow);
    question->setObjectName(QStringLiteral("deletionQuestion"));
    question->setInformativeText(QStringLiteral("Удалённые снимки не восстановить: они не попадают в Корзину."));
    QPushButton* remove = question->addButton(QStringLiteral("Удалить"), QMessageBox::DestructiveRole);
    QPushButton* cancel = question->addButton(QStringLiteral("Отмена"), QMessageBox::RejectRole);
    question->setDefaultButton(cancel);
    question->setEscapeButton(cancel);
    question->setAttribute(Qt::WA_DeleteOnClose);
    widen(question);
    connect(question, &QMessageBox::finished, this, [this, question, remove, policy] {
        if (question->clickedButton() == remove) {
            // Whatever else changed while the question was open stays as it is now.
            AppSettings confirmed = settings.current();
            confirmed.retention = policy;
            apply(confirmed);
        } else {
            refreshControls();
        }
    });
    question->open();
}

void SettingsWindowController::apply(const AppSettings& changed) {
    if (auto accepted = settings.update(changed); !accepted) {
        qCCritical(lcSettingsWindow, "Настройки отклонены: %s", caseName(accepted.error()));
    }
    refreshControls();
}

void SettingsWindowController::chooseFolder() {
    if (moving) return;
    auto* chooser = new QFileDialog(settingsWindow, QStringLiteral("Папка для истории снимков"),
                                    standardized(settings.current().historyFolder));
    chooser->setObjectName(QStringLiteral("folderChooser"));
    chooser->setFileMode(QFileDialog::Directory);
    chooser->setOption(QFileDialog::ShowDirsOnly);
    chooser->setLabelText(QFileDialog::Accept, QStringLiteral("Выбрать"));
    chooser->setAttribute(Qt::WA_DeleteOnClose);
    connect(chooser, &QFileDialog::fileSelected, this, [this](const QString& folder) {
        if (!folder.isEmpty()) moveHistory(folder);
    });
    chooser->open();
}

void SettingsWindowController::moveHistory(const QString& chosen) {
    const QString folder = standardized(chosen);
    const QString current = standardized(settings.current().historyFolder);
    if (moving || folder == current) return;
    enterMovingState();
    // The history does not move into a folder of its own: refused before anything is touched.
    if (isInside(folder, current)) {
        showAlert(QStringLiteral("Эту папку выбрать нельзя"),
                  QStringLiteral("Эта папка находится внутри текущей папки истории."));
        leaveMovingState();
        refreshControls();
        return;
    }
    runInBackground([checker = access, folder] { return checker.prepare(folder); })
        .then(this, [this, folder](Expected<void, HistoryError> ready) {
            if (!ready) {
                showAlert(QStringLiteral("Эту папку выбрать нельзя"), SettingsTexts::explanation(ready.error()));
                leaveMovingState();
                refreshControls();
                return;
            }
            relocateHistory(folder).then(this, [this, folder](HistoryResult moved) {
                if (!moved) {
                    qCCritical(lcSettingsWindow, "История не переехала: %s", qUtf8Printable(describe(moved.error())));
                    showAlert(QStringLiteral("Снимки не перенесены"),
                              SettingsTexts::explanation(moved.error()) + QStringLiteral(" Снимки остались в прежней папке."));
                } else {
                    AppSettings changed = settings.current();
                    changed.historyFolder = folder;
                    if (auto accepted = settings.update(changed); !accepted) {
                        qCCritical(lcSettingsWindow, "Настройки отклонены: %s", caseName(accepted.error()));
                    }
                }
                leaveMovingState();
                refreshControls();
            });
        });
}

void SettingsWindowController::enterMovingState() {
    moving = true;
    folderButton->setEnabled(false);
    folderSpinner->start();
    setTextColour(folderStatusLabel, secondaryTextColour(settingsWindow));
    folderStatusLabel->setText(QStringLiteral("Переносим снимки…"));
}

void SettingsWindowController::leaveMovingState() {
    moving = false;
    folderButton->setEnabled(true);
    folderSpinner->stop();
    setTextColour(folderStatusLabel, statusRed);
    // The next volume check writes the status text again.
    folderStatusLabel->clear();
    Q_EMIT moveFinished();
    if (closeAfterMove) {
        closeAfterMove = false;
        invokeCallback(onClose);
    }
}

void SettingsWindowController::showAlert(const QString& title, const QString& text) {
    // A window closed while its move ran has no sheet to hold the alert: it stands alone then.
    const bool onWindow = settingsWindow->isVisible();
    auto* alert = new QMessageBox(QMessageBox::Warning, QStringLiteral("Настройки Quillet"), title, QMessageBox::NoButton,
                                  onWindow ? settingsWindow : nullptr);
    alert->setObjectName(QStringLiteral("settingsAlert"));
    alert->setInformativeText(text);
    alert->setDefaultButton(alert->addButton(QStringLiteral("Понятно"), QMessageBox::AcceptRole));
    alert->setAttribute(Qt::WA_DeleteOnClose);
    widen(alert);
    if (onWindow) {
        alert->open();
    } else {
        alert->setWindowModality(Qt::ApplicationModal);
        alert->show();
    }
}

void SettingsWindowController::windowClosed() {
    folderStatusTask.cancel();
    // A running move still has to save the new folder when it ends; the controller stays until then.
    if (moving) {
        closeAfterMove = true;
        return;
    }
    invokeCallback(onClose);
}

}  // namespace quillet
