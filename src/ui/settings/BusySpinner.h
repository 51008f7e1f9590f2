// A small spinning arc that says work is running; it turns only while shown and keeps its place
// in the layout while hidden, so the row beside it does not jump.
//
//   spinner.start();   // shows it and turns
//   spinner.stop();    // hides it
#pragma once

#include <QTimer>
#include <QWidget>

namespace quillet {

class BusySpinner : public QWidget {
    Q_OBJECT
public:
    explicit BusySpinner(QWidget* parent = nullptr);

    void start();
    void stop();
    bool isSpinning() const { return timer.isActive(); }

    QSize sizeHint() const override { return {16, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer;
    int angle = 0;
};

}  // namespace quillet
