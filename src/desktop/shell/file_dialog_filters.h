#pragma once

#include <QStringList>

#include <string_view>

namespace sw {

// Label and pattern pairs separated by '|' ("Text files|*.txt;*.text|...")
// as the dialog's filters ("Text files (*.txt *.text)", ...); "*.*" becomes
// "*" so that "All files" shows names without an extension too.
QStringList FileDialogFilters(std::string_view pairs);

} // namespace sw
