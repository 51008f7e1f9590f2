#pragma once

#include <QAbstractButton>

namespace quillet {

// An 86 × 24 pill with a centred title ("Копировать"); its title can change after a click
// while its accessible name stays the first title.
class PillButton : public QAbstractButton {
    Q_OBJECT
public:
    PillButton(const QString& title, QWidget* parent = nullptr);

    void setTitle(const QString& title);
    QString title() const { return titleText; }

    QSize sizeHint() const override { return {86, 24}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString titleText;
};

}  // namespace quillet
