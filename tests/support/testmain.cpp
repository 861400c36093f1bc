// Test main: a GUI application on the offscreen platform, so that fonts, painting and text
// documents work in every test program without a display.
#include <QGuiApplication>

#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    // A station without a stored working folder works in the user's data folder; the tests'
    // stations get one of their own, so that no run leaves folders in the home folder.
    QTemporaryDir dataHome;
    if (dataHome.isValid())
        qputenv("XDG_DATA_HOME", dataHome.path().toLocal8Bit());
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
