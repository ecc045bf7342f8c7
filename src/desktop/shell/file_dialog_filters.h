#pragma once

#include <QStringList>

#include <string>
#include <string_view>

namespace sw {

// Label and pattern pairs separated by '|' ("Text files|*.txt;*.text|...")
// as the dialog's filters ("Text files (*.txt *.text)", ...); "*.*" becomes
// "*" so that "All files" shows names without an extension too.
QStringList FileDialogFilters(std::string_view pairs);

// The pairs for opening a picture, from the picture loader's registry:
// "All supported files" with every extension it reads, one pair per kind
// (extensions of one description together), then "All files".
std::string PictureFilterPairs();

} // namespace sw
