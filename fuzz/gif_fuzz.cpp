// GIF reader: any bytes give an image or a clean exception, and a loaded
// image becomes a bitmap or fails for want of a colour table.
#include "core/base/errors.h"
#include "core/base/stream.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/gif/gif_image.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    // The picture the programs open: the first frame, read and made a
    // bitmap whatever size it claims; the reader's pixel limit bounds it.
    try {
        sw::TMemoryStream stream(std::vector<uint8_t>(data, data + size));
        sw::TGIFImage picture;
        picture.SetFirstFrameOnly(true);
        picture.LoadFromStream(stream);
        sw::TBitmap bitmap;
        bitmap.Assign(picture);
    } catch (const sw::Exception&) { }
    // Every frame, within a bound on their pixels that keeps a run quick
    // (the reader's own bound, which refuses what is over it).
    sw::TMemoryStream stream(std::vector<uint8_t>(data, data + size));
    sw::TGIFImage image;
    image.SetReadLimit(int64_t(1) << 24);
    try {
        image.LoadFromStream(stream);
    } catch (const sw::Exception&) {
        return 0;
    }
    // The other ways a read image is used, for pictures of a size that keeps
    // the run quick: every frame's bitmap, dithered, and written again.
    int64_t pixels = int64_t(image.Width()) * image.Height();
    for (const auto& frame : image.Images())
        pixels += int64_t(frame->Width()) * frame->Height();
    if (pixels > (int64_t(1) << 20))
        return 0;
    try {
        for (const auto& frame : image.Images())
            frame->FrameBitmap();
        image.SetDithered(true);
        sw::TBitmap bitmap;
        bitmap.Assign(image);
        // What was read can be written again (frames with pixels only).
        if (!image.Empty() && image.Images()[0].ColorMap().Count() > 0) {
            sw::TMemoryStream out;
            image.SaveToStream(out);
        }
    } catch (const sw::Exception&) { }
    return 0;
}
