#include <QCoreApplication>
#include <gtest/gtest.h>

// Tests that drive coroutines, processes or sockets need an application object and its loop.
int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
