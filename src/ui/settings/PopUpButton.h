// A pop-up button whose items can be enabled one by one, each carrying an integer tag. Only a
// choice the user makes is announced (`chosen`); selecting an item from code is silent, so a
// refresh from the settings never reads as a new choice.
//
//   PopUpButton keys;
//   keys.addTaggedItem(QStringLiteral("Выключено"), -1);
//   keys.setItemEnabled(0, false);
//   connect(&keys, &PopUpButton::chosen, this, [](int index) { ... });
#pragma once

#include <QComboBox>

namespace quillet {

class PopUpButton : public QComboBox {
    Q_OBJECT
public:
    explicit PopUpButton(QWidget* parent = nullptr);

    void addTaggedItem(const QString& title, int tag);
    void setItemEnabled(int index, bool enabled);
    bool isItemEnabled(int index) const;
    int tagAt(int index) const;
    // The index of the first item with `tag`, or -1.
    int indexOfTag(int tag) const;

Q_SIGNALS:
    // The user picked the item at `index` (also when it was already selected).
    void chosen(int index);
};

}  // namespace quillet
