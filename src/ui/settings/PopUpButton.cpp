#include "ui/settings/PopUpButton.h"

#include <QStandardItemModel>

namespace quillet {

PopUpButton::PopUpButton(QWidget* parent) : QComboBox(parent) {
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    connect(this, &QComboBox::activated, this, &PopUpButton::chosen);
}

void PopUpButton::addTaggedItem(const QString& title, int tag) { addItem(title, tag); }

void PopUpButton::setItemEnabled(int index, bool enabled) {
    // QComboBox keeps its items in a QStandardItemModel unless told otherwise.
    auto* items = qobject_cast<QStandardItemModel*>(model());
    if (QStandardItem* item = items ? items->item(index) : nullptr) item->setEnabled(enabled);
}

bool PopUpButton::isItemEnabled(int index) const {
    const auto* items = qobject_cast<const QStandardItemModel*>(model());
    const QStandardItem* item = items ? items->item(index) : nullptr;
    return item && item->isEnabled();
}

int PopUpButton::tagAt(int index) const {
    const QVariant tag = itemData(index);
    return tag.isValid() ? tag.toInt() : 0;
}

int PopUpButton::indexOfTag(int tag) const { return findData(tag); }

}  // namespace quillet
