#include "desktop/shell/file_dialog_filters.h"

#include "core/imaging/picture.h"

#include <utility>
#include <vector>

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

std::string PictureFilterPairs()
{
    std::string all;
    std::vector<std::pair<std::string, std::string>> kinds;
    for (const TFileFormat& format : TPicture::FileFormats()) {
        const std::string pattern = "*." + format.Extension;
        all += (all.empty() ? "" : ";") + pattern;
        auto kind = kinds.begin();
        while (kind != kinds.end() && kind->first != format.Description)
            ++kind;
        if (kind == kinds.end())
            kinds.emplace_back(format.Description, pattern);
        else
            kind->second += ";" + pattern;
    }
    std::string pairs = "All supported files|" + all;
    for (const auto& [description, patterns] : kinds)
        pairs += "|" + description + "|" + patterns;
    return pairs + "|All files|*.*";
}

} // namespace sw
