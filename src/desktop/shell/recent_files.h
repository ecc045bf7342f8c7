#pragma once

// The projects opened or saved last, newest first, kept in the user's
// settings between sessions.

#include <QString>
#include <QStringList>

namespace sw {

inline constexpr int kMaxRecentFiles = 8;

// files with fileName moved or added to the front, each file once, at most
// kMaxRecentFiles long.
QStringList WithRecentFile(QStringList files, const QString& fileName);

class TRecentFiles {
public:
    QStringList Files() const;
    void Add(const QString& fileName);
    void Remove(const QString& fileName);
};

} // namespace sw
