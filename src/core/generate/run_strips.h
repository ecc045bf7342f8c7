#pragma once

// The row strips a run cuts its cells from: full-width bands of the picture
// between two row lines. Kept strips are BMP files the run writes and reads
// back; others are the picture's own rows and never reach the folder.

#include "core/base/mapped_file.h"
#include "core/base/stream.h"
#include "core/base/thread_pool.h"
#include "core/imaging/picture.h"
#include "core/imaging/pixel_view.h"
#include "core/project/cut_grid.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sw {

class TBitmap;

// A strip's 24-bit rows and what keeps them alive.
struct TStripRows {
    std::optional<TMappedFile> Mapped;
    TImage Holder;
    TPixelView Rows;
};

// The rows of picture (24-bit) in rows, where they are.
std::shared_ptr<TStripRows> StripInPicture(const TPixelView& picture, TBand rows);
// A strip's file as written: mapped where it is the plain file the run
// writes, read into a bitmap otherwise.
std::shared_ptr<TStripRows> StripFromFile(const std::string& fileName);

// The strip's file: from a 24-bit picture's rows straight, from any other
// through a 24-bit copy; put in its place.
void WriteStripFile(TBitmap& picture, TBand rows, const std::string& fileName);

// The strips of every row with pixels written side by side on pool, each
// under its temporary name, while each row in turn is first listed (false:
// no strip to wait for) and, once its file is put in place, published.
// After a failure no further strip is started, and the names of the
// strips after it keep what they held.
void WriteStripFilesOnPool(TThreadPool& pool, const TPixelView& picture, const TCutGrid& grid,
    const std::function<std::string(int row)>& fileName, const std::function<bool(int row)>& listed,
    const std::function<void(const std::string& fileName)>& published);

} // namespace sw
