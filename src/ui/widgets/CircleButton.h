#pragma once

#include <QAbstractButton>

namespace quillet {

// A round 21 × 21 button with a glyph, drawn in the shared button colours; disabled, it is
// drawn at 40 % opacity and does not react.
class CircleButton : public QAbstractButton {
    Q_OBJECT
public:
    CircleButton(const QString& symbol, const QString& label, QWidget* parent = nullptr);

    // The glyph and the text of its tooltip and accessible name. A glyph that does not exist
    // leaves the plain circle.
    void setSymbol(const QString& symbol, const QString& label);
    QString symbol() const { return symbolName; }
    QString label() const { return labelText; }

    QSize sizeHint() const override { return {21, 21}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbolName;
    QString labelText;
};

}  // namespace quillet
