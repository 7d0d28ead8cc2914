#include <gtest/gtest.h>

#include <QApplication>
#include <QByteArray>
#include <memory>

// Widget tests need a QApplication for the whole run. Listing the tests (done at build time)
// needs none, and without an X display the widgets are laid out on the offscreen platform.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QApplication> app;
    if (!GTEST_FLAG_GET(list_tests)) {
        if (qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
            qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", QByteArray("offscreen"));
        }
        app = std::make_unique<QApplication>(argc, argv);
    }
    return RUN_ALL_TESTS();
}
