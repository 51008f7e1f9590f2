// Runs every GoogleTest inside a QApplication so that tests can use the event loop, timers and
// continuations. Unit tests get Qt's offscreen platform from CTest's environment.
#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("QuilletTests"));
    QApplication::setApplicationName(QStringLiteral("QuilletTests"));
    return RUN_ALL_TESTS();
}
