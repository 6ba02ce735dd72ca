#include "DesktopResources.h"

#include <QApplication>

#include <gtest/gtest.h>

// Under LeakSanitizer: Qt's offscreen platform never frees the screen objects it creates with the
// application. Its frames carry no frame pointers, so the stacks are unwound the slow way for the
// suppression to see them. Without a sanitizer nothing reads these.
extern "C" const char *__lsan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libqoffscreen.so\n";
}

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
