// Every end-to-end test executable starts its private X session first, then the QApplication
// that connects to it, and stops the session after the last test, whatever happened.
#include "e2e/harness/XSession.h"

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    auto& session = quillet::e2e::XSession::current();
    if (!session.start(quillet::e2e::registeredSessionOptions())) {
        std::fprintf(stderr, "e2e: the private X session could not be started\n");
        session.stop();
        return EXIT_FAILURE;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    int result = EXIT_FAILURE;
    {
        QApplication app(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        result = RUN_ALL_TESTS();
    }
    session.stop();
    return result;
}
