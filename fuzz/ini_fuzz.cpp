// The INI reader and the project reader over arbitrary bytes: every input
// must parse and serialise again without failing; the project reader reads
// back both lists or refuses the file with the core's own exception (a bad
// [Cells] entry is refused, naming the cell).
#include "core/base/errors.h"
#include "core/project/ini_file.h"
#include "core/project/project_file.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const sw::TIniFile ini = sw::TIniFile::FromText(text, "fuzz.swr");
    try {
        const sw::TLoadedProject project = sw::ReadProject(ini, "default.bmp");
        if (project.PictureFileName.size() > sw::kMaxPictureFileNameLength)
            std::abort();
        for (const auto* list : { &project.Columns, &project.Rows })
            for (const sw::TStoredLine& line : *list)
                if (line.Position < 0)
                    std::abort();
    } catch (const sw::Exception&) { }

    // What was read is written back and must read the same.
    const std::string written = ini.Text();
    const sw::TIniFile again = sw::TIniFile::FromText(written, "fuzz.swr");
    if (again.Text() != written)
        std::abort();
    return 0;
}
