#include "core/picture_formats.h"

#include <QApplication>
#include <gtest/gtest.h>

// One QApplication per widget-test binary, alive for every test in it.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Listing the cases (CTest's discovery) runs without a display.
    if (::testing::GTEST_FLAG(list_tests))
        return RUN_ALL_TESTS();
    sw::RegisterPictureFormats();
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
