#include "desktop/shell/file_names.h"

#include <QFile>

namespace sw {

QString FileNameFromCore(const std::string& fileName)
{
    return QFile::decodeName(QByteArray::fromStdString(fileName));
}

std::string FileNameToCore(const QString& fileName)
{
    return QFile::encodeName(fileName).toStdString();
}

} // namespace sw
