// A window of another process for the capture tests (our own windows never appear in a
// capture). It paints a known pattern and appends " ready" to its title once the pattern has
// reached the screen:
//
//   quillet_pattern_window <title> <x> <y> <width> <height> <seed> <framed 0|1>
#include "e2e/harness/Pattern.h"

#include <QApplication>
#include <QPainter>
#include <QTimer>
#include <QWidget>

namespace {

class PatternWindow : public QWidget {
public:
    PatternWindow(QString title, int seed) : title(std::move(title)), seed(seed) {
        setWindowTitle(this->title);
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter(this).drawImage(0, 0, quillet::e2e::patternImage(width(), height(), seed));
        // After this paint has been flushed to the server; a title set again changes nothing.
        QTimer::singleShot(0, this, [this] { setWindowTitle(title + QStringLiteral(" ready")); });
    }

private:
    QString title;
    int seed;
};

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList arguments = QApplication::arguments();
    if (arguments.size() != 8) return 2;
    PatternWindow window(arguments[1], arguments[6].toInt());
    if (arguments[7] != QLatin1String("1")) window.setWindowFlag(Qt::FramelessWindowHint);
    window.setGeometry(arguments[2].toInt(), arguments[3].toInt(), arguments[4].toInt(), arguments[5].toInt());
    window.show();
    return app.exec();
}
