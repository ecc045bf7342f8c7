#include "generate/picture_formats.h"

#include <QApplication>
#include <gtest/gtest.h>

// One QApplication per widget-test binary, alive for every test in it.
int main(int argc, char** argv)
{
    sw::RegisterPictureFormats();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
