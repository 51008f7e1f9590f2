// The red strip along the card's bottom edge that says why a capture was not stored.
#pragma once

#include <QLabel>

namespace quillet {

class WarningLabel : public QLabel {
    Q_OBJECT
public:
    WarningLabel(bool roundedCard, QWidget* parent);
    void setRoundedCard(bool rounded);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool roundedCard;
};

}  // namespace quillet
