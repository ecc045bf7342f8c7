#include "core/imaging/jpeg/jpeg_codec.h"

#include "core/base/errors.h"
#include "core/imaging/jpeg/jpeg_image.h"

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <type_traits>
#include <utility>

// jpeglib.h needs size_t and FILE declared first.
#include <jerror.h>
#include <jpeglib.h>

namespace sw {

namespace {

constexpr size_t kStreamBufferSize = 4096;
constexpr int kQuantizedColors = 236;
constexpr int64_t kProgressIntervalMs = 500;

struct ProgressManager {
    jpeg_progress_mgr pub; // first: the library hands back &pub
    const TJPEGImage* owner;
    int lastPercent;
    int64_t lastTick;
    bool ticked;
    JDIMENSION lastRow;
};

// The state of one decode or encode beside the library object. It lives in
// the frame that calls Guarded, so a longjmp never skips its destructor.
struct Codec {
    Codec() = default;
    Codec(const Codec&) = delete;
    Codec& operator=(const Codec&) = delete;
    ~Codec() { Release(); }

    void Release()
    {
        if (common) {
            jpeg_destroy(common);
            common = nullptr;
        }
    }

    jpeg_error_mgr error {};
    std::jmp_buf jump;
    ProgressManager progress {};
    // An exception caught inside a library callback, rethrown once the
    // library object is gone.
    std::exception_ptr pending;
    int errorCode = 0;
    j_common_ptr common = nullptr;
};

struct DecodeContext : Codec {
    ~DecodeContext() { Release(); }
    // What the final pass of a scan-by-scan display restores.
    J_DCT_METHOD finalDct = JDCT_ISLOW;
    boolean finalTwoPass = FALSE;
    J_DITHER_MODE finalDither = JDITHER_FS;
    jpeg_decompress_struct cinfo {};
    // Output rows into the bitmap, top row first; from the library's pool.
    JSAMPARRAY rows = nullptr;
    // Four-component output is read here and converted into the rows.
    JSAMPARRAY cmykRows = nullptr;
    // Rows of the bitmap written by any pass so far, from the top.
    JDIMENSION rowsWritten = 0;
};

struct EncodeContext : Codec {
    ~EncodeContext() { Release(); }
    jpeg_compress_struct cinfo {};
};

Codec& CodecOf(j_common_ptr cinfo)
{
    return *static_cast<Codec*>(cinfo->client_data);
}

// The only frame that calls setjmp. It owns nothing, and the steps it runs
// keep nothing with a destructor alive across library calls, so the longjmp
// from the error manager skips no clean-up.
[[gnu::noinline]] bool CallGuarded(Codec& codec, void (*step)(void*), void* argument)
{
    if (setjmp(codec.jump) != 0)
        return false;
    step(argument);
    return true;
}

// Runs step under the library's error handling; a library error destroys
// the library object and then throws.
template <typename Step> void Guarded(Codec& codec, Step&& step)
{
    using StepType = std::remove_reference_t<Step>;
    auto trampoline = [](void* argument) { (*static_cast<StepType*>(argument))(); };
    if (CallGuarded(codec, trampoline, const_cast<void*>(static_cast<const void*>(&step))))
        return;
    codec.Release();
    if (codec.pending) {
        std::exception_ptr pending = std::exchange(codec.pending, nullptr);
        std::rethrow_exception(pending);
    }
    throw EJPEG(Format("JPEG error #%d", codec.errorCode));
}

[[noreturn]] void RaiseJpegError(j_common_ptr cinfo)
{
    Codec& codec = CodecOf(cinfo);
    codec.errorCode = cinfo->err->msg_code;
    std::longjmp(codec.jump, 1);
}

// Runs our own code called back from inside the library: an exception may
// not unwind through the library's frames, so it is parked and the library
// left by longjmp after the handler has finished.
template <typename Body> void Protected(j_common_ptr cinfo, Body&& body)
{
    bool failed = false;
    try {
        body();
    } catch (...) {
        CodecOf(cinfo).pending = std::current_exception();
        failed = true;
    }
    if (failed)
        std::longjmp(CodecOf(cinfo).jump, 1);
}

void IgnoreMessage(j_common_ptr, int)
{ }
void IgnoreOutput(j_common_ptr)
{ }
void FormatNothing(j_common_ptr, char* buffer)
{
    buffer[0] = '\0';
}
void ResetErrorManager(j_common_ptr cinfo)
{
    cinfo->err->num_warnings = 0;
    cinfo->err->msg_code = 0;
}

void InstallErrorManager(Codec& codec, j_common_ptr cinfo)
{
    jpeg_std_error(&codec.error);
    codec.error.error_exit = RaiseJpegError;
    codec.error.emit_message = IgnoreMessage;
    codec.error.output_message = IgnoreOutput;
    codec.error.format_message = FormatNothing;
    codec.error.reset_error_mgr = ResetErrorManager;
    codec.error.trace_level = 0;
    cinfo->err = &codec.error;
    cinfo->client_data = static_cast<Codec*>(&codec);
}

int64_t TickCount()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// Each scan costs a pass over the whole image, so a few bytes of scan
// headers could otherwise keep the decoder busy for hours.
void CheckScanCount(j_decompress_ptr cinfo)
{
    if (cinfo->input_scan_number <= kMaxJpegScans)
        return;
    Codec& codec = CodecOf(reinterpret_cast<j_common_ptr>(cinfo));
    codec.pending
        = std::make_exception_ptr(EJPEG(Format("JPEG image has more than %d scans", kMaxJpegScans)));
    std::longjmp(codec.jump, 1);
}

// A frame header of a few bytes could otherwise ask for gigabytes of
// bitmap and coefficient memory; checked before anything is decoded.
void CheckImageSize(j_decompress_ptr cinfo)
{
    if (static_cast<int64_t>(cinfo->image_width) * cinfo->image_height <= kMaxBitmapPixels)
        return;
    Codec& codec = CodecOf(reinterpret_cast<j_common_ptr>(cinfo));
    codec.pending
        = std::make_exception_ptr(EJPEG(JpegTooLargeMessage(cinfo->image_width, cinfo->image_height)));
    std::longjmp(codec.jump, 1);
}

} // namespace

// The library's view of a TJPEGImage.
struct JpegCodecAccess {
    static void ProgressHook(j_common_ptr cinfo);
    static void PrepareDecoder(const TJPEGImage& image, DecodeContext& context);
    static void Decode(const TJPEGImage& image);
    static void Encode(TJPEGImage& image);
};

namespace {

void JpegProgressHook(j_common_ptr cinfo)
{
    JpegCodecAccess::ProgressHook(cinfo);
}

void InstallProgress(Codec& codec, j_common_ptr cinfo, const TJPEGImage* owner)
{
    codec.progress.pub.progress_monitor = JpegProgressHook;
    codec.progress.owner = owner;
    codec.progress.lastPercent = -1;
    cinfo->progress = &codec.progress.pub;
}

// The library object of a decode or encode context, with our error and
// progress managers; create runs the library's constructor on it.
template <typename Context, typename Create>
void CreateLibraryObject(Context& context, const TJPEGImage* owner, Create create)
{
    InstallErrorManager(context, reinterpret_cast<j_common_ptr>(&context.cinfo));
    context.common = reinterpret_cast<j_common_ptr>(&context.cinfo);
    Guarded(context, [&] { create(&context.cinfo); });
    InstallProgress(context, context.common, owner);
}

void CreateDecompressor(DecodeContext& context, const TJPEGImage* owner)
{
    CreateLibraryObject(context, owner, [](j_decompress_ptr cinfo) { jpeg_create_decompress(cinfo); });
}

void CreateCompressor(EncodeContext& context, const TJPEGImage* owner)
{
    CreateLibraryObject(context, owner, [](j_compress_ptr cinfo) { jpeg_create_compress(cinfo); });
}

// Source manager over a stream. The manager and its buffer live in the
// permanent pool, as long as the decompressor.
struct StreamSourceManager {
    jpeg_source_mgr pub; // first: the library hands back &pub
    TStream* stream;
    JOCTET* buffer;
    bool startOfFile;
};

StreamSourceManager& SourceOf(j_decompress_ptr cinfo)
{
    return *reinterpret_cast<StreamSourceManager*>(cinfo->src);
}

void InitSource(j_decompress_ptr cinfo)
{
    SourceOf(cinfo).startOfFile = true;
}

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    StreamSourceManager& source = SourceOf(cinfo);
    size_t count = 0;
    const JOCTET* next = source.buffer;
    Protected(reinterpret_cast<j_common_ptr>(cinfo), [&] {
        if (auto* memory = dynamic_cast<TMemoryStream*>(source.stream)) {
            // Bytes already in memory are handed over where they lie: no
            // copy, and the library's Huffman decoder keeps to its fast path,
            // which needs a good stretch of input ahead.
            const int64_t position = memory->Position();
            count = static_cast<size_t>(std::max<int64_t>(0, memory->Size() - position));
            if (count > 0) {
                next = memory->Bytes().data() + position;
                memory->Seek(0, SeekOrigin::End);
            }
            return;
        }
        count = source.stream->Read(source.buffer, kStreamBufferSize);
    });
    if (count == 0) {
        next = source.buffer;
        if (source.startOfFile)
            ERREXIT(cinfo, JERR_INPUT_EMPTY);
        // A file cut short: an end-of-image marker lets the library finish
        // the picture with what it has.
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source.buffer[0] = 0xFF;
        source.buffer[1] = JPEG_EOI;
        count = 2;
    }
    source.pub.next_input_byte = next;
    source.pub.bytes_in_buffer = count;
    source.startOfFile = false;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    StreamSourceManager& source = SourceOf(cinfo);
    while (count > static_cast<long>(source.pub.bytes_in_buffer)) {
        count -= static_cast<long>(source.pub.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    source.pub.next_input_byte += count;
    source.pub.bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr)
{ }

void StreamSource(j_decompress_ptr cinfo, TStream& stream)
{
    if (!cinfo->src) {
        auto* manager = static_cast<StreamSourceManager*>((*cinfo->mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(StreamSourceManager)));
        manager->buffer = static_cast<JOCTET*>((*cinfo->mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, kStreamBufferSize));
        cinfo->src = &manager->pub;
    }
    StreamSourceManager& source = SourceOf(cinfo);
    source.pub.init_source = InitSource;
    source.pub.fill_input_buffer = FillInputBuffer;
    source.pub.skip_input_data = SkipInputData;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = TermSource;
    source.pub.bytes_in_buffer = 0;
    source.pub.next_input_byte = nullptr;
    source.stream = &stream;
}

// Destination manager over a stream; its buffer lives in the image pool.
struct StreamDestinationManager {
    jpeg_destination_mgr pub; // first: the library hands back &pub
    TStream* stream;
    JOCTET* buffer;
};

StreamDestinationManager& DestinationOf(j_compress_ptr cinfo)
{
    return *reinterpret_cast<StreamDestinationManager*>(cinfo->dest);
}

void InitDestination(j_compress_ptr cinfo)
{
    StreamDestinationManager& destination = DestinationOf(cinfo);
    destination.buffer = static_cast<JOCTET*>(
        (*cinfo->mem->alloc_small)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, kStreamBufferSize));
    destination.pub.next_output_byte = destination.buffer;
    destination.pub.free_in_buffer = kStreamBufferSize;
}

void WriteOut(j_compress_ptr cinfo, size_t count)
{
    StreamDestinationManager& destination = DestinationOf(cinfo);
    size_t written = 0;
    Protected(reinterpret_cast<j_common_ptr>(cinfo),
        [&] { written = destination.stream->Write(destination.buffer, count); });
    if (written != count)
        ERREXIT(cinfo, JERR_FILE_WRITE);
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo)
{
    WriteOut(cinfo, kStreamBufferSize);
    StreamDestinationManager& destination = DestinationOf(cinfo);
    destination.pub.next_output_byte = destination.buffer;
    destination.pub.free_in_buffer = kStreamBufferSize;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo)
{
    const size_t count = kStreamBufferSize - DestinationOf(cinfo).pub.free_in_buffer;
    if (count > 0)
        WriteOut(cinfo, count);
}

void StreamDestination(j_compress_ptr cinfo, TStream& stream)
{
    if (!cinfo->dest) {
        cinfo->dest = static_cast<jpeg_destination_mgr*>((*cinfo->mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(StreamDestinationManager)));
    }
    StreamDestinationManager& destination = DestinationOf(cinfo);
    destination.pub.init_destination = InitDestination;
    destination.pub.empty_output_buffer = EmptyOutputBuffer;
    destination.pub.term_destination = TermDestination;
    destination.stream = &stream;
    destination.buffer = nullptr;
}

std::vector<TRGBQuad> PaletteFromColormap(j_decompress_ptr cinfo)
{
    const int count = std::clamp(cinfo->actual_number_of_colors, 0, 256);
    std::vector<TRGBQuad> palette(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        TRGBQuad& entry = palette[static_cast<size_t>(i)];
        if (cinfo->out_color_components == 1) {
            entry.Red = entry.Green = entry.Blue = cinfo->colormap[0][i];
        } else {
            // The output space is blue, green, red, and so is the map.
            entry.Blue = cinfo->colormap[0][i];
            entry.Green = cinfo->colormap[1][i];
            entry.Red = cinfo->colormap[2][i];
        }
    }
    return palette;
}

void ColormapFromPalette(j_decompress_ptr cinfo, const std::vector<TRGBQuad>& palette)
{
    const auto count = static_cast<JDIMENSION>(std::min<size_t>(palette.size(), 256));
    if (count == 0)
        return;
    JSAMPARRAY map
        = (*cinfo->mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(cinfo), JPOOL_IMAGE, count, 3);
    for (JDIMENSION i = 0; i < count; ++i) {
        map[0][i] = palette[i].Blue;
        map[1][i] = palette[i].Green;
        map[2][i] = palette[i].Red;
    }
    cinfo->colormap = map;
    cinfo->actual_number_of_colors = static_cast<int>(count);
}

uint8_t Scale255(unsigned a, unsigned b)
{
    return static_cast<uint8_t>((a * b + 127) / 255);
}

// Four-component pixels to blue, green, red. Adobe's files hold the inks
// inverted (255 = no ink), which is the common case.
void ConvertCmykRow(const JSAMPLE* cmyk, uint8_t* bgr, JDIMENSION width, bool inverted)
{
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[0] = Scale255(y, k);
        bgr[1] = Scale255(m, k);
        bgr[2] = Scale255(c, k);
    }
}

// Row pointers into the bitmap, top row first, whatever the rows' order in
// memory; the library writes straight into the bitmap.
void PointRowsAt(DecodeContext& context, TBitmap& bitmap)
{
    const JDIMENSION height = context.cinfo.output_height;
    uint8_t* first = bitmap.ScanLine(0);
    const ptrdiff_t distance = height > 1 ? bitmap.ScanLine(1) - first : 0;
    Guarded(context, [&] {
        j_common_ptr common = context.common;
        context.rows = static_cast<JSAMPARRAY>(
            (*common->mem->alloc_small)(common, JPOOL_IMAGE, sizeof(JSAMPROW) * height));
        for (JDIMENSION y = 0; y < height; ++y)
            context.rows[y] = first + static_cast<ptrdiff_t>(y) * distance;
        if (context.cinfo.out_color_space == JCS_CMYK)
            context.cmykRows = (*common->mem->alloc_sarray)(common, JPOOL_IMAGE,
                context.cinfo.output_width * 4, static_cast<JDIMENSION>(context.cinfo.rec_outbuf_height));
    });
}

// One output pass: every row of the picture into the bitmap.
void ReadAllRows(DecodeContext& context)
{
    Guarded(context, [&] {
        jpeg_decompress_struct& cinfo = context.cinfo;
        const JDIMENSION height = cinfo.output_height;
        if (!context.cmykRows) {
            while (cinfo.output_scanline < height) {
                const JDIMENSION start = cinfo.output_scanline;
                if (jpeg_read_scanlines(&cinfo, context.rows + start, height - start) == 0)
                    break;
                context.rowsWritten = std::max(context.rowsWritten, cinfo.output_scanline);
            }
            return;
        }
        const bool inverted = cinfo.saw_Adobe_marker;
        while (cinfo.output_scanline < height) {
            const JDIMENSION start = cinfo.output_scanline;
            const JDIMENSION count = jpeg_read_scanlines(
                &cinfo, context.cmykRows, static_cast<JDIMENSION>(cinfo.rec_outbuf_height));
            if (count == 0)
                break;
            for (JDIMENSION i = 0; i < count && start + i < height; ++i)
                ConvertCmykRow(context.cmykRows[i], context.rows[start + i], cinfo.output_width, inverted);
            context.rowsWritten = std::max(context.rowsWritten, std::min(start + count, height));
        }
    });
}

} // namespace

void JpegCodecAccess::ProgressHook(j_common_ptr cinfo)
{
    auto& progress = *reinterpret_cast<ProgressManager*>(cinfo->progress);
    if (cinfo->is_decompressor)
        CheckScanCount(reinterpret_cast<j_decompress_ptr>(cinfo));
    if (!progress.owner)
        return;
    const int64_t tick = TickCount();
    if (progress.ticked && tick - progress.lastTick < kProgressIntervalMs)
        return;
    const bool first = !progress.ticked;
    progress.lastTick = tick;
    progress.ticked = true;
    if (first)
        return;
    TRect rect;
    if (cinfo->is_decompressor) {
        const auto* decompressor = reinterpret_cast<j_decompress_ptr>(cinfo);
        rect = TRect { 0, static_cast<int>(progress.lastRow), static_cast<int>(decompressor->output_width),
            static_cast<int>(decompressor->output_scanline) };
        if (rect.Bottom < rect.Top)
            rect.Bottom = static_cast<int>(decompressor->output_height);
    }
    const jpeg_progress_mgr& pub = progress.pub;
    if (pub.pass_limit <= 0 || pub.total_passes <= 0)
        return;
    const double done
        = static_cast<double>(pub.pass_counter) / static_cast<double>(pub.pass_limit) + pub.completed_passes;
    const int percent = std::clamp(static_cast<int>(done * 100.0 / pub.total_passes), 0, 100);
    if (percent == progress.lastPercent)
        return;
    progress.lastPercent = percent;
    if (cinfo->is_decompressor)
        progress.lastRow = reinterpret_cast<j_decompress_ptr>(cinfo)->output_scanline;
    const TJPEGImage* owner = progress.owner;
    Protected(cinfo, [&] {
        owner->Progress(TProgressStage::Running, static_cast<uint8_t>(percent), rect.Height() >= 4, rect);
    });
}

void JpegCodecAccess::PrepareDecoder(const TJPEGImage& image, DecodeContext& context)
{
    CreateDecompressor(context, &image);
    TMemoryStream& data = *image.m_data->Data;
    data.SetPosition(0);
    Guarded(context, [&] {
        jpeg_decompress_struct& cinfo = context.cinfo;
        StreamSource(&cinfo, data);
        jpeg_read_header(&cinfo, TRUE);
        CheckImageSize(&cinfo);
        cinfo.scale_num = 1;
        cinfo.scale_denom = 1u << image.m_decodeScale;
        cinfo.do_block_smoothing = image.m_blockSmoothing;
        // Four components are converted after the library (it has no such
        // conversion of its own) and always come out at 24 bits.
        const bool fourComponents = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
        if (fourComponents)
            cinfo.out_color_space = JCS_CMYK;
        else if (image.m_grayOutput)
            cinfo.out_color_space = JCS_GRAYSCALE;
        else if (cinfo.out_color_space != JCS_GRAYSCALE)
            // Blue, green, red: the order of a bitmap's rows.
            cinfo.out_color_space = JCS_EXT_BGR;
        if (!fourComponents
            && (image.m_decodeDepth == TJPEGPixelFormat::Depth8 || cinfo.out_color_space == JCS_GRAYSCALE)) {
            cinfo.quantize_colors = TRUE;
            cinfo.desired_number_of_colors = kQuantizedColors;
        }
        if (image.m_decodeSpeed == TJPEGPerformance::Fast) {
            cinfo.dct_method = JDCT_IFAST;
            cinfo.two_pass_quantize = FALSE;
            cinfo.dither_mode = JDITHER_ORDERED;
        }
        context.finalDct = cinfo.dct_method;
        context.finalTwoPass = cinfo.two_pass_quantize;
        context.finalDither = cinfo.dither_mode;
        if (image.m_showProgressive && jpeg_has_multiple_scans(&cinfo)) {
            cinfo.enable_2pass_quant = cinfo.two_pass_quantize;
            cinfo.dct_method = JDCT_IFAST;
            cinfo.two_pass_quantize = FALSE;
            cinfo.dither_mode = JDITHER_ORDERED;
            cinfo.buffered_image = TRUE;
        }
    });
}

void JpegCodecAccess::Decode(const TJPEGImage& image)
{
    auto bitmap = std::make_unique<TBitmap>();
    bool paletteWanted = true;
    bool failed = false;
    DecodeContext context;
    try {
        PrepareDecoder(image, context);
        jpeg_decompress_struct& cinfo = context.cinfo;
        const bool eightBit = cinfo.out_color_space != JCS_CMYK
            && (image.m_decodeDepth == TJPEGPixelFormat::Depth8 || cinfo.out_color_space == JCS_GRAYSCALE);
        bitmap->SetPixelFormat(eightBit ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
        image.Progress(TProgressStage::Starting, 0, false, TRect {});
        if (!image.m_tempPalette.empty()) {
            if (image.m_decodeDepth == TJPEGPixelFormat::Depth8 && cinfo.out_color_space == JCS_EXT_BGR) {
                // The library maps the pixels onto the palette we were given.
                Guarded(context, [&] { ColormapFromPalette(&cinfo, image.m_tempPalette); });
                bitmap->SetColorTable(image.m_tempPalette);
                paletteWanted = false;
            } else if (image.m_decodeDepth == TJPEGPixelFormat::Depth24) {
                image.m_tempPalette.clear();
            }
        }
        // The library's colour map becomes the bitmap's table unless a
        // palette of our own was handed in.
        auto takePalette = [&] {
            bitmap->SetColorTable(PaletteFromColormap(&cinfo));
            image.m_paletteModified = true;
        };
        Guarded(context, [&] { jpeg_start_decompress(&cinfo); });
        // Every row is written by the library below; a decode that stops
        // early fills what it did not reach.
        bitmap->SetSizeForOverwrite(
            static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
        if (bitmap->BitsPerPixel() != (eightBit ? 8 : 24))
            throw EInvalidGraphic("Bitmap image is not valid");
        PointRowsAt(context, *bitmap);
        if (!cinfo.buffered_image) {
            if (cinfo.quantize_colors && cinfo.colormap && paletteWanted)
                takePalette();
            ReadAllRows(context);
        } else {
            bool passDone = false;
            while (true) {
                int status = 0;
                Guarded(context, [&] { status = jpeg_consume_input(&cinfo); });
                if (status == JPEG_REACHED_EOI || status == JPEG_SUSPENDED)
                    break;
                Guarded(context, [&] {
                    CheckScanCount(&cinfo);
                    jpeg_start_output(&cinfo, cinfo.input_scan_number);
                });
                if (!passDone && cinfo.colormap && eightBit && paletteWanted)
                    takePalette();
                ReadAllRows(context);
                Guarded(context, [&] { jpeg_finish_output(&cinfo); });
                passDone = true;
            }
            cinfo.dct_method = context.finalDct;
            cinfo.dither_mode = context.finalDither;
            if (context.finalTwoPass) {
                cinfo.two_pass_quantize = TRUE;
                cinfo.colormap = nullptr;
            }
            Guarded(context, [&] { jpeg_start_output(&cinfo, cinfo.input_scan_number); });
            if (context.finalTwoPass && cinfo.colormap && eightBit && paletteWanted)
                takePalette();
            ReadAllRows(context);
            Guarded(context, [&] { jpeg_finish_output(&cinfo); });
        }
        Guarded(context, [&] { jpeg_finish_decompress(&cinfo); });
    } catch (const EAbort&) {
        // A cancelled decode keeps the rows it has.
        failed = true;
    } catch (...) {
        context.Release();
        image.Progress(TProgressStage::Ending, 0, image.m_paletteModified, TRect {});
        if (image.m_paletteModified)
            image.NotifyChange();
        throw;
    }
    context.Release();
    if (static_cast<int>(context.rowsWritten) < bitmap->Height()) {
        bitmap->Canvas().SetBrushColor(clWhite);
        bitmap->Canvas().FillRect(
            TRect { 0, static_cast<int>(context.rowsWritten), bitmap->Width(), bitmap->Height() });
    }
    image.m_bitmap = std::move(bitmap);
    image.Progress(TProgressStage::Ending, failed ? 0 : 100, image.m_paletteModified, TRect {});
    if (image.m_paletteModified)
        image.NotifyChange();
}

void JpegCodecAccess::Encode(TJPEGImage& image)
{
    EncodeContext context;
    CreateCompressor(context, &image);
    if (image.m_data->Data)
        image.m_data = std::make_shared<TJPEGData>();
    auto output = std::make_unique<TMemoryStream>();
    const TBitmap* held = image.m_bitmap.get();
    if (!held || held->Width() == 0 || held->Height() == 0) {
        image.m_data->Data = std::move(output);
        return;
    }
    const auto width = static_cast<JDIMENSION>(held->Width());
    const auto height = static_cast<JDIMENSION>(held->Height());
    // Shares the held pixels; only a bitmap of another layout is converted.
    TBitmap source;
    source.Assign(*held);
    if (source.BitsPerPixel() != 24 && source.PixelFormat() != TPixelFormat::pf32bit)
        source.SetPixelFormat(TPixelFormat::pf24bit);
    const bool padded = source.BitsPerPixel() == 32;
    const TBitmap& rowsOf = source;
    const uint8_t* first = rowsOf.ScanLine(0);
    const ptrdiff_t distance = height > 1 ? rowsOf.ScanLine(1) - first : 0;
    const bool gray = image.m_grayOutput;

    try {
        JSAMPARRAY rows = nullptr;
        Guarded(context, [&] {
            jpeg_compress_struct& cinfo = context.cinfo;
            StreamDestination(&cinfo, *output);
            cinfo.image_width = width;
            cinfo.image_height = height;
            cinfo.input_components = padded ? 4 : 3;
            cinfo.in_color_space = padded ? JCS_EXT_BGRX : JCS_EXT_BGR;
            jpeg_set_defaults(&cinfo);
            jpeg_set_quality(&cinfo, image.m_saveQuality, TRUE);
            if (gray)
                jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
            if (image.m_saveProgressive)
                jpeg_simple_progression(&cinfo);
            rows = static_cast<JSAMPARRAY>((*cinfo.mem->alloc_small)(
                reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_PERMANENT, sizeof(JSAMPROW) * height));
            // The library only reads through these rows.
            for (JDIMENSION y = 0; y < height; ++y)
                rows[y] = const_cast<JSAMPROW>(first + static_cast<ptrdiff_t>(y) * distance);
        });
        image.Progress(TProgressStage::Starting, 0, false, TRect {});
        Guarded(context, [&] {
            jpeg_compress_struct& cinfo = context.cinfo;
            jpeg_start_compress(&cinfo, TRUE);
            while (cinfo.next_scanline < height) {
                const JDIMENSION start = cinfo.next_scanline;
                if (jpeg_write_scanlines(&cinfo, rows + start, height - start) == 0)
                    break;
            }
            jpeg_finish_compress(&cinfo);
        });
    } catch (const EAbort&) {
        context.Release();
        image.Progress(TProgressStage::Ending, 0, false, TRect {});
        image.m_data = std::make_shared<TJPEGData>();
        return;
    } catch (...) {
        context.Release();
        image.Progress(TProgressStage::Ending, 0, false, TRect {});
        throw;
    }
    context.Release();
    // The data takes the bytes only once they are complete, so a failed
    // encode is retried by the next save instead of writing a partial file.
    image.m_data->Width = width;
    image.m_data->Height = height;
    image.m_data->Grayscale = gray;
    image.m_data->Data = std::move(output);
    image.Progress(TProgressStage::Ending, 100, false, TRect {});
}

std::string JpegTooLargeMessage(uint32_t width, uint32_t height)
{
    return Format("JPEG image of %u x %u pixels is larger than the %lld pixels allowed", width, height,
        static_cast<long long>(kMaxBitmapPixels));
}

JpegHeaderInfo ReadJpegHeader(TMemoryStream& data)
{
    DecodeContext context;
    CreateDecompressor(context, nullptr);
    data.SetPosition(0);
    JpegHeaderInfo info;
    Guarded(context, [&] {
        jpeg_decompress_struct& cinfo = context.cinfo;
        StreamSource(&cinfo, data);
        jpeg_read_header(&cinfo, TRUE);
        CheckImageSize(&cinfo);
        info.Width = cinfo.image_width;
        info.Height = cinfo.image_height;
        info.Grayscale = cinfo.jpeg_color_space == JCS_GRAYSCALE;
        info.MultiScan = jpeg_has_multiple_scans(&cinfo);
    });
    return info;
}

void TJPEGImage::DecodeToBitmap() const
{
    if (m_bitmap || !m_data->Data)
        return;
    JpegCodecAccess::Decode(*this);
}

void TJPEGImage::EncodeFromBitmap()
{
    JpegCodecAccess::Encode(*this);
}

void TJPEGImage::CalcScaledSize() const
{
    if (!m_needRecalc)
        return;
    if (!m_data->Data || m_data->Data->Bytes().empty()) {
        m_scaledWidth = m_scaledHeight = 0;
        m_needRecalc = false;
        return;
    }
    DecodeContext context;
    JpegCodecAccess::PrepareDecoder(*this, context);
    Guarded(context, [&] {
        jpeg_calc_output_dimensions(&context.cinfo);
        m_scaledWidth = static_cast<int>(context.cinfo.output_width);
        m_scaledHeight = static_cast<int>(context.cinfo.output_height);
        m_saveProgressive = jpeg_has_multiple_scans(&context.cinfo);
    });
    m_needRecalc = false;
}

} // namespace sw
