#include "desktop/shell/file_dialog_filters.h"

namespace sw {

QStringList FileDialogFilters(std::string_view pairs)
{
    const QStringList parts
        = QString::fromUtf8(pairs.data(), static_cast<qsizetype>(pairs.size())).split('|');
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        // Names without a dot are common here, and "*.*" would hide them.
        for (QString& pattern : patterns)
            if (pattern == QStringLiteral("*.*"))
                pattern = QStringLiteral("*");
        filters << parts[i] + QStringLiteral(" (") + patterns.join(' ') + QStringLiteral(")");
    }
    return filters;
}

} // namespace sw
