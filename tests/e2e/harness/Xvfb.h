// A private X server: Xvfb on a display number it picks itself (-displayfd), so tests running
// side by side never meet. It is stopped with this object, and killed with the test process if
// that dies first.
//
//   Xvfb server;
//   ASSERT_TRUE(server.start(QSize(640, 480)));
//   xcb_connect(server.display().toUtf8().constData(), nullptr);
#pragma once

#include <QProcess>
#include <QSize>
#include <QStringList>

#include <memory>

namespace quillet::e2e {

class Xvfb {
public:
    Xvfb();
    ~Xvfb();
    Xvfb(const Xvfb&) = delete;
    Xvfb& operator=(const Xvfb&) = delete;

    // One 24-bit screen of `size`; false (with the reason on stderr) when the server did not
    // come up.
    bool start(QSize size, const QStringList& extraArguments = {});
    void stop();
    // ":N", empty before start().
    QString display() const { return displayName; }

private:
    std::unique_ptr<QProcess> process;
    QString displayName;
};

// Children die with the test process, so a crashed test never leaves a program behind.
void dieWithParent(QProcess& process);

// A command line as it is typed: "-t image/png -o" → {"-t", "image/png", "-o"}.
inline QStringList words(const QString& line) { return line.split(u' ', Qt::SkipEmptyParts); }

}  // namespace quillet::e2e
