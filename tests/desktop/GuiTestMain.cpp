#include "DesktopResources.h"

#include <QApplication>

#include <gtest/gtest.h>

// Widgets need the application object first; without a display the offscreen platform stands
// in, which also means no system tray.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    initDesktopResources();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
