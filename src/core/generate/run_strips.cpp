#include "core/generate/run_strips.h"

#include "core/base/errors.h"
#include "core/generate/cell_pixels.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/bmp_file.h"

#include <atomic>

namespace sw {

namespace {

// Finished under its temporary name; Publish puts it in place.
std::unique_ptr<TFileStream> WriteStripRows(TPixelView picture, TBand rows, const std::string& fileName)
{
    picture.Data = picture.Row(rows.Start);
    picture.Height = rows.Length();
    auto file = std::make_unique<TFileStream>(fileName, FileMode::Create);
    WriteBmp24(picture, *file);
    file->Finish();
    return file;
}

} // namespace

std::shared_ptr<TStripRows> StripInPicture(const TPixelView& picture, TBand rows)
{
    auto strip = std::make_shared<TStripRows>();
    strip->Rows = picture;
    strip->Rows.Data = picture.Row(rows.Start);
    strip->Rows.Height = rows.Length();
    return strip;
}

std::shared_ptr<TStripRows> StripFromFile(const std::string& fileName)
{
    auto strip = std::make_shared<TStripRows>();
    if (const std::optional<TPixelView> rows = BmpRows24(strip->Mapped.emplace(fileName).Bytes())) {
        strip->Rows = *rows;
        return strip;
    }
    strip->Holder.SetAutoSize(true);
    strip->Holder.Picture().LoadFromFile(fileName);
    auto* bitmap = dynamic_cast<TBitmap*>(strip->Holder.Picture().Graphic());
    if (!bitmap)
        throw EInvalidGraphic(Format("Cannot open file %s", fileName.c_str()));
    if (bitmap->PixelFormat() != TPixelFormat::pf24bit)
        bitmap->SetPixelFormat(TPixelFormat::pf24bit);
    strip->Rows = bitmap->View24();
    return strip;
}

void WriteStripFile(TBitmap& picture, TBand rows, const std::string& fileName)
{
    if (picture.PixelFormat() == TPixelFormat::pf24bit)
        WriteStripRows(picture.View24(), rows, fileName)->Publish();
    else
        CutOut(picture, { 0, picture.Width() }, rows).SaveToFile(fileName);
}

void WriteStripFilesOnPool(TThreadPool& pool, const TPixelView& picture, const TCutGrid& grid,
    const std::function<std::string(int row)>& fileName, const std::function<bool(int row)>& listed,
    const std::function<void(const std::string& fileName)>& published)
{
    struct TStripWrite {
        std::string Name;
        std::unique_ptr<TFileStream> File;
        std::unique_ptr<TTaskBatch> Batch;
    };
    std::atomic<bool> failed = false; // before the writes, which wait for their tasks
    std::vector<TStripWrite> writes(size_t(grid.Rows()));
    for (int row = 1; row <= grid.Rows(); ++row) {
        TStripWrite& write = writes[size_t(row) - 1];
        write.Name = fileName(row);
        if (!grid.Row(row).Band)
            continue;
        write.Batch = std::make_unique<TTaskBatch>(pool);
        write.Batch->Run([&write, &failed, picture, rows = *grid.Row(row).Band] {
            if (failed)
                return;
            try {
                write.File = WriteStripRows(picture, rows, write.Name);
            } catch (...) {
                failed = true;
                throw;
            }
        });
    }
    size_t k = 0;
    try {
        for (; k < writes.size(); ++k) {
            TStripWrite& write = writes[k];
            if (!listed(static_cast<int>(k) + 1))
                continue;
            write.Batch->Wait();
            // Not written when a later strip failed first: its turn comes.
            if (!write.File)
                continue;
            write.File->Publish();
            published(write.Name);
        }
    } catch (...) {
        failed = true;
        // Waits for the strips still being written; their temporary files
        // go with them.
        for (size_t later = k; later < writes.size(); ++later)
            writes[later].Batch.reset();
        throw;
    }
}

} // namespace sw
