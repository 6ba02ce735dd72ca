#include <QCoreApplication>

#include <gtest/gtest.h>

// Qt's translators, codecs and event loops want the application object to exist first.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
