#pragma once

// The one crossing for file names between the toolkit's text and the core's
// byte strings. The core keeps names as the file system has them; a name
// that is not valid UTF-8 must still reach the disk unchanged and be shown
// readably.

#include <QString>

#include <string>

namespace sw {

QString FileNameFromCore(const std::string& fileName);
std::string FileNameToCore(const QString& fileName);

} // namespace sw
