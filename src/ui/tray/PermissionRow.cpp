#include "ui/tray/PermissionRow.h"

#include "ui/widgets/InvokeCallback.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace quillet {

namespace {

QLabel* secondaryLabel(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
    return label;
}

}  // namespace

PermissionRow::PermissionRow(const QString& title, const QString& explanation, const QString& hint, QWidget* parent)
    : QWidget(parent) {
    auto* titleLabel = new QLabel(title, this);
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    texts->addWidget(titleLabel);
    texts->addWidget(secondaryLabel(explanation, this));
    hintLabel = secondaryLabel(hint, this);
    hintLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    hintLabel->hide();
    texts->addSpacing(4);
    texts->addWidget(hintLabel);

    button = new QPushButton(QStringLiteral("Выдать"), this);
    grantedLabel = new QLabel(QStringLiteral("✓ Выдано"), this);
    QPalette green = grantedLabel->palette();
    green.setColor(QPalette::WindowText, QColor(0x26, 0xa2, 0x69));
    grantedLabel->setPalette(green);
    connect(button, &QPushButton::clicked, this, [this] { invokeCallback(onGrant); });

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(12);
    layout->addLayout(texts, 1);
    layout->addWidget(button, 0, Qt::AlignVCenter);
    layout->addWidget(grantedLabel, 0, Qt::AlignVCenter);
    setGranted(false);
}

void PermissionRow::setGranted(bool granted) {
    button->setVisible(!granted);
    grantedLabel->setVisible(granted);
    if (granted) hintLabel->hide();
}

void PermissionRow::showHint() { hintLabel->show(); }

bool PermissionRow::isGrantedShown() const { return !grantedLabel->isHidden(); }

bool PermissionRow::isHintShown() const { return !hintLabel->isHidden(); }

}  // namespace quillet
