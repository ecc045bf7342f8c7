#include "core/generate/run_checks.h"

#include "core/base/errors.h"
#include "core/base/sysutils.h"
#include "core/project/cell_properties.h"

#include <filesystem>
#include <map>
#include <sys/stat.h>
#include <tuple>

namespace sw {

namespace {

// A file's place: its folder as a file (so that two spellings of one folder
// agree) and its name in it; a folder that does not exist yet stands by its
// normal spelling.
struct TPlace {
    dev_t Device = 0;
    ino_t Inode = 0;
    std::string Folder;
    std::string Name;
    auto operator<=>(const TPlace&) const = default;
};

class TPlaces {
public:
    TPlace Of(const std::string& fileName)
    {
        const std::string folder = ExtractFilePath(fileName);
        auto found = m_folders.find(folder);
        if (found == m_folders.end()) {
            TPlace place;
            struct stat info { };
            if (::stat(folder.empty() ? "." : folder.c_str(), &info) == 0) {
                place.Device = info.st_dev;
                place.Inode = info.st_ino;
            } else {
                std::error_code error;
                place.Folder = std::filesystem::absolute(folder, error).lexically_normal().string();
            }
            found = m_folders.emplace(folder, place).first;
        }
        TPlace place = found->second;
        place.Name = ExtractFileName(fileName);
        return place;
    }

private:
    std::map<std::string, TPlace> m_folders;
};

void RefuseToReplace(const std::vector<TRunFile>& files, const std::string& existing, const char* detail)
{
    struct stat target { };
    if (existing.empty() || ::stat(existing.c_str(), &target) != 0)
        return;
    for (const TRunFile& file : files) {
        // A link of that name would only be replaced, which leaves the target alone.
        struct stat info { };
        if (::lstat(file.FileName.c_str(), &info) == 0 && info.st_dev == target.st_dev
            && info.st_ino == target.st_ino)
            throw EFCreateError(WithDetail("Cannot create file " + file.FileName, detail));
    }
}

} // namespace

void RefuseNameCollisions(const std::vector<TRunFile>& files, const std::string& pictureFileName,
    const std::string& projectFileName)
{
    RefuseToReplace(files, pictureFileName, "it is the picture being cut; choose another output folder");
    RefuseToReplace(files, projectFileName, "it is the project file; choose another name or output folder");
    TPlaces places;
    std::map<TPlace, const TRunFile*> seen;
    for (const TRunFile& file : files) {
        const auto [at, added] = seen.emplace(places.Of(file.FileName), &file);
        if (!added)
            throw EFCreateError(WithDetail("Cannot create file " + file.FileName,
                "the run would write it as " + at->second->What + " and as " + file.What));
    }
}

void RefuseMailUnsafeFormats(const TCellPlan& plan)
{
    constexpr size_t kNamed = 8;
    std::vector<std::string> unsafe;
    for (const TPlannedCell& cell : plan.Cells)
        if (cell.Role == TCellRole::Image && !IsMailSafe(cell.Format.Type)
            && cell.Format.Type != TImageType::Auto)
            unsafe.push_back(CellLabel(cell.Ref) + " (" + ImageTypeName(cell.Format.Type) + ")");
    if (unsafe.empty())
        return;
    std::string cells;
    for (size_t k = 0; k < unsafe.size() && k < kNamed; ++k)
        cells += (k == 0 ? "" : ", ") + unsafe[k];
    if (unsafe.size() > kNamed)
        cells += Format(" and %d more", int(unsafe.size() - kNamed));
    throw ECellPropertyError("An e-mail page cannot show WebP or AVIF images, which Outlook for Windows and "
                             "other mail clients leave blank: cell"
        + std::string(unsafe.size() == 1 ? " " : "s ") + cells
        + "; choose gif, gif-adaptive, png8, png, jpg or auto");
}

std::vector<TRunWarning> MailCellWarnings(const TCellPlan& plan)
{
    std::vector<TRunWarning> warnings;
    for (const TPlannedCell& cell : plan.Cells) {
        // Live text and a button's label name their link themselves.
        const TCellProperties& properties = cell.Properties;
        if (cell.Role == TCellRole::Covered || properties.Link.empty() || !properties.Alt.empty()
            || !properties.Text.empty() || !properties.Button.empty())
            continue;
        warnings.push_back({ "link-without-alt",
            "cell " + CellLabel(cell.Ref) + " links to " + cell.Properties.Link
                + " but has no alt text, so the link has no name when images are off or read aloud",
            cell.Ref });
    }
    return warnings;
}

std::optional<TRunWarning> MailSizeWarning(uint64_t htmlBytes)
{
    if (htmlBytes <= kMailClipBytes)
        return std::nullopt;
    return TRunWarning { "mail-clipped",
        Format("the page's HTML is %llu bytes, over 102 KB: Gmail clips the message there and hides the rest "
               "behind a link",
            static_cast<unsigned long long>(htmlBytes)) };
}

} // namespace sw
