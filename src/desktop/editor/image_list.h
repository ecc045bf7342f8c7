#pragma once

// The six 16 x 16 icons shared by the menu, the tool bar and the two lists,
// drawn in code so they stay sharp at any device pixel ratio.

#include <QIcon>
#include <QList>

namespace sw {

enum ImageIndex : int {
    kIconOpenPicture = 0,
    kIconColumn = 1,
    kIconRow = 2,
    kIconNewProject = 3,
    kIconOpenProject = 4,
    kIconSaveProject = 5,
    kImageCount = 6,
};

QList<QIcon> CreateImageList();

} // namespace sw
