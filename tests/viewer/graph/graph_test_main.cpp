#include <gtest/gtest.h>

#include <QApplication>
#include <QSurfaceFormat>
#include <memory>

#include "test_qt_resources.h"

// OpenGL widgets need a real X server (Xvfb with Mesa gives a 3.3 core context); the default
// surface format must be set before the application exists. Listing the tests needs neither.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    std::unique_ptr<QApplication> app;
    if (!GTEST_FLAG_GET(list_tests)) {
        QSurfaceFormat format;
        format.setVersion(3, 3);
        format.setProfile(QSurfaceFormat::CoreProfile);
        QSurfaceFormat::setDefaultFormat(format);
        app = std::make_unique<QApplication>(argc, argv);
        initTestQtResources();
    }
    return RUN_ALL_TESTS();
}
