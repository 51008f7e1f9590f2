// The dark veil over the card that holds the buttons. Clicks on the veil itself fall through
// to the card, so the whole card stays draggable.
#pragma once

#include <QWidget>

namespace quillet {

class HoverOverlayView : public QWidget {
    Q_OBJECT
public:
    HoverOverlayView(bool roundedCard, QWidget* parent);
    void setRoundedCard(bool rounded);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    bool roundedCard;
};

}  // namespace quillet
