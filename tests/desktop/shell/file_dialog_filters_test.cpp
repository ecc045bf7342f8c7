#include "desktop/shell/file_dialog_filters.h"

#include "core/picture_formats.h"

#include <gtest/gtest.h>

namespace sw {
namespace {

// The picture dialog offers what the core reads, every kind of it, first
// all together; nothing is hidden because a list was written by hand.
TEST(FileDialogFilters, PictureFiltersComeFromTheRegistry)
{
    RegisterPictureFormats();
    const QStringList filters = FileDialogFilters(PictureFilterPairs());
    ASSERT_GE(filters.size(), 3);
    for (const char* pattern : { "*.bmp", "*.gif", "*.jpeg", "*.jpg", "*.png" })
        EXPECT_TRUE(filters.first().contains(QString::fromLatin1(pattern))) << pattern;
    EXPECT_TRUE(filters.first().startsWith(QStringLiteral("All supported files (")));
    EXPECT_EQ(filters.last(), QStringLiteral("All files (*)"));
    EXPECT_TRUE(filters.contains(QStringLiteral("JPEG Image File (*.jpeg *.jpg)")))
        << filters.join('|').toStdString();
}

} // namespace
} // namespace sw
