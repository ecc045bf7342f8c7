#include "core/imaging/jpeg/jpeg_codec.h"

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"
#include "core/imaging/jpeg/jpeg_messages.h"

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <exception>
#include <memory>
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
    const TJpegProgress* report;
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
    // The library's own words for errorCode, and the memory it was allowed.
    std::string errorText;
    long memoryLimit = 0;
    void (*libraryFormat)(j_common_ptr, char*) = nullptr;
    j_common_ptr common = nullptr;
    // Where the compressed data ran out, when it did before the end marker:
    // the scan and the image row the decoder had reached.
    bool cutShort = false;
    int cutScan = 0;
    JDIMENSION cutRow = 0;
    JDIMENSION cutHeight = 0;
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
    bool multiScan = false;
};

struct EncodeContext : Codec {
    ~EncodeContext() { Release(); }
    jpeg_compress_struct cinfo {};
    // A progressive picture leaves its optimised Huffman tables in the
    // object, and the defaults do not replace tables that exist.
    bool tablesChanged = false;
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
    std::string detail = codec.errorText;
    if ((codec.errorCode == JERR_NO_BACKING_STORE || codec.errorCode == JERR_OUT_OF_MEMORY)
        && codec.memoryLimit > 0)
        detail += Format(jpeg_message::kMemoryLimitSuffix, int(codec.memoryLimit >> 20));
    std::string message = Format(jpeg_message::kLibraryError, codec.errorCode);
    if (!detail.empty())
        message += " (" + detail + ")";
    throw EJPEG(message);
}

[[noreturn]] void RaiseJpegError(j_common_ptr cinfo)
{
    Codec& codec = CodecOf(cinfo);
    codec.errorCode = cinfo->err->msg_code;
    char text[JMSG_LENGTH_MAX] = {};
    if (codec.libraryFormat)
        codec.libraryFormat(cinfo, text);
    codec.errorText = text;
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
    codec.libraryFormat = codec.error.format_message;
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
    codec.pending = std::make_exception_ptr(EJPEG(Format(jpeg_message::kTooManyScans, kMaxJpegScans)));
    std::longjmp(codec.jump, 1);
}

// A frame header of a few bytes could otherwise ask for gigabytes of
// bitmap and coefficient memory; checked before anything is decoded.
void CheckImageSize(j_decompress_ptr cinfo)
{
    if (!ExceedsPixelLimit(cinfo->image_width, cinfo->image_height))
        return;
    Codec& codec = CodecOf(reinterpret_cast<j_common_ptr>(cinfo));
    codec.pending
        = std::make_exception_ptr(EJPEG(PictureTooLargeMessage(cinfo->image_width, cinfo->image_height)));
    std::longjmp(codec.jump, 1);
}

void ProgressHook(j_common_ptr cinfo);

void InstallProgress(Codec& codec, j_common_ptr cinfo, const TJpegProgress* report)
{
    codec.progress.pub.progress_monitor = ProgressHook;
    codec.progress.report = report != nullptr && *report ? report : nullptr;
    codec.progress.lastPercent = -1;
    cinfo->progress = &codec.progress.pub;
}

// The library object of a decode or encode context, with our error and
// progress managers; create runs the library's constructor on it.
template <typename Context, typename Create>
void CreateLibraryObject(Context& context, const TJpegProgress* report, Create create)
{
    InstallErrorManager(context, reinterpret_cast<j_common_ptr>(&context.cinfo));
    context.common = reinterpret_cast<j_common_ptr>(&context.cinfo);
    Guarded(context, [&] { create(&context.cinfo); });
    InstallProgress(context, context.common, report);
}

// Until the header is read the library may take only a little; past its
// limit it asks for a backing store, which this build has not got, and
// fails instead of growing.
constexpr long kHeaderMemory = long(16) << 20;

void CreateDecompressor(DecodeContext& context, const TJpegProgress* report)
{
    CreateLibraryObject(context, report, [](j_decompress_ptr cinfo) {
        jpeg_create_decompress(cinfo);
        cinfo->mem->max_memory_to_use = kHeaderMemory;
    });
    context.memoryLimit = kHeaderMemory;
}

// What a decode of this picture may take beside the bitmap, from its own
// size (bounded by the pixel limit): the coefficients of every block,
// which a file of several scans keeps whole, a whole-image buffer for
// two-pass colour reduction, and a margin for the rest.
// A file of several scans gets its coefficients kept whole before a pixel
// is shown, so a few bytes of header could take hundreds of megabytes. Its
// first scan spends a bit at least on each block, and one that cannot have
// done so is refused.
constexpr uint64_t kMaxBlocksPerByte = 64;

void AllowMemoryFor(DecodeContext& context, size_t fileSize)
{
    jpeg_decompress_struct& cinfo = context.cinfo;
    uint64_t blocks = 0;
    for (int i = 0; i < cinfo.num_components; ++i) {
        const jpeg_component_info& component = cinfo.comp_info[i];
        blocks += uint64_t(component.width_in_blocks + cinfo.max_h_samp_factor)
            * (component.height_in_blocks + cinfo.max_v_samp_factor);
    }
    if (jpeg_has_multiple_scans(&cinfo) && blocks > uint64_t(fileSize) * kMaxBlocksPerByte) {
        context.pending = std::make_exception_ptr(EJPEG(jpeg_message::kTooShort));
        std::longjmp(context.jump, 1);
    }
    uint64_t need = kHeaderMemory + blocks * DCTSIZE2 * sizeof(JCOEF);
    need += uint64_t(cinfo.image_width) * cinfo.image_height * 3;
    context.memoryLimit = static_cast<long>(need);
    cinfo.mem->max_memory_to_use = context.memoryLimit;
}

void CreateCompressor(EncodeContext& context, const TJpegProgress* report)
{
    CreateLibraryObject(context, report, [](j_compress_ptr cinfo) { jpeg_create_compress(cinfo); });
}

// One compressor per thread, kept from one picture to the next: making it
// and its tables anew costs more than encoding a small cell. A library
// error destroys it, and the next picture makes another.
EncodeContext& ThreadCompressor(const TJpegProgress* report)
{
    thread_local std::unique_ptr<EncodeContext> context;
    if (!context)
        context = std::make_unique<EncodeContext>();
    context->pending = nullptr;
    context->errorCode = 0;
    context->progress = {};
    if (context->tablesChanged)
        context->Release();
    context->tablesChanged = false;
    if (!context->common) {
        CreateCompressor(*context, report);
        return *context;
    }
    // Drops what a picture left behind when it stopped between the
    // library's steps (progress threw); a no-op after a finished one.
    jpeg_abort_compress(&context->cinfo);
    InstallProgress(*context, context->common, report);
    return *context;
}

// Source manager over bytes in memory, handed to the library where they
// lie: no copy, and the library's Huffman decoder keeps to its fast path,
// which needs a good stretch of input ahead. The manager and its two-byte
// stand-in for a missing end lives in the permanent pool, as long as the
// decompressor.
struct MemorySourceManager {
    jpeg_source_mgr pub; // first: the library hands back &pub
    const JOCTET* data;
    size_t size;
    bool handedOver;
    JOCTET end[2];
};

MemorySourceManager& SourceOf(j_decompress_ptr cinfo)
{
    return *reinterpret_cast<MemorySourceManager*>(cinfo->src);
}

void InitSource(j_decompress_ptr)
{ }

boolean FillInputBuffer(j_decompress_ptr cinfo)
{
    MemorySourceManager& source = SourceOf(cinfo);
    if (!source.handedOver && source.size > 0) {
        source.handedOver = true;
        source.pub.next_input_byte = source.data;
        source.pub.bytes_in_buffer = source.size;
        return TRUE;
    }
    if (!source.handedOver)
        ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // A file cut short: an end-of-image marker lets the library finish the
    // picture with what it has.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    Codec& codec = CodecOf(reinterpret_cast<j_common_ptr>(cinfo));
    if (!codec.cutShort) {
        codec.cutShort = true;
        codec.cutScan = cinfo->input_scan_number;
        const uint64_t row = uint64_t(cinfo->input_iMCU_row) * uint64_t(cinfo->max_v_samp_factor) * DCTSIZE;
        codec.cutRow = static_cast<JDIMENSION>(std::min<uint64_t>(row, cinfo->image_height));
        codec.cutHeight = cinfo->image_height;
    }
    source.end[0] = 0xFF;
    source.end[1] = JPEG_EOI;
    source.pub.next_input_byte = source.end;
    source.pub.bytes_in_buffer = 2;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count)
{
    if (count <= 0)
        return;
    MemorySourceManager& source = SourceOf(cinfo);
    while (count > static_cast<long>(source.pub.bytes_in_buffer)) {
        count -= static_cast<long>(source.pub.bytes_in_buffer);
        FillInputBuffer(cinfo);
    }
    source.pub.next_input_byte += count;
    source.pub.bytes_in_buffer -= static_cast<size_t>(count);
}

void TermSource(j_decompress_ptr)
{ }

void MemorySource(j_decompress_ptr cinfo, std::span<const uint8_t> file)
{
    if (!cinfo->src) {
        cinfo->src = static_cast<jpeg_source_mgr*>((*cinfo->mem->alloc_small)(
            reinterpret_cast<j_common_ptr>(cinfo), JPOOL_PERMANENT, sizeof(MemorySourceManager)));
    }
    MemorySourceManager& source = SourceOf(cinfo);
    source.pub.init_source = InitSource;
    source.pub.fill_input_buffer = FillInputBuffer;
    source.pub.skip_input_data = SkipInputData;
    source.pub.resync_to_restart = jpeg_resync_to_restart;
    source.pub.term_source = TermSource;
    source.pub.bytes_in_buffer = 0;
    source.pub.next_input_byte = nullptr;
    source.data = file.data();
    source.size = file.size();
    source.handedOver = false;
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

// Four-component pixels to blue, green, red. The inks are held inverted
// (255 = no ink) with or without an Adobe marker: that is how the files are
// written and how other decoders and browsers read them.
void ConvertCmykRow(const JSAMPLE* cmyk, uint8_t* bgr, JDIMENSION width)
{
    for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        const unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
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
        while (cinfo.output_scanline < height) {
            const JDIMENSION start = cinfo.output_scanline;
            const JDIMENSION count = jpeg_read_scanlines(
                &cinfo, context.cmykRows, static_cast<JDIMENSION>(cinfo.rec_outbuf_height));
            if (count == 0)
                break;
            for (JDIMENSION i = 0; i < count && start + i < height; ++i)
                ConvertCmykRow(context.cmykRows[i], context.rows[start + i], cinfo.output_width);
            context.rowsWritten = std::max(context.rowsWritten, std::min(start + count, height));
        }
    });
}

void ProgressHook(j_common_ptr cinfo)
{
    auto& progress = *reinterpret_cast<ProgressManager*>(cinfo->progress);
    if (cinfo->is_decompressor)
        CheckScanCount(reinterpret_cast<j_decompress_ptr>(cinfo));
    if (progress.report == nullptr)
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
    const TJpegProgress& report = *progress.report;
    Protected(cinfo,
        [&] { report(TProgressStage::Running, static_cast<uint8_t>(percent), rect.Height() >= 4, rect); });
}

void PrepareDecoder(std::span<const uint8_t> file, const TJpegDecodeOptions& options,
    const TJpegProgress* report, DecodeContext& context)
{
    CreateDecompressor(context, report);
    Guarded(context, [&] {
        jpeg_decompress_struct& cinfo = context.cinfo;
        MemorySource(&cinfo, file);
        jpeg_read_header(&cinfo, TRUE);
        CheckImageSize(&cinfo);
        AllowMemoryFor(context, file.size());
        cinfo.scale_num = 1;
        cinfo.scale_denom = 1u << options.Scale;
        cinfo.do_block_smoothing = options.BlockSmoothing;
        // Four components are converted after the library (it has no such
        // conversion of its own) and always come out at 24 bits.
        const bool fourComponents = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
        if (fourComponents)
            cinfo.out_color_space = JCS_CMYK;
        else if (options.GrayOutput)
            cinfo.out_color_space = JCS_GRAYSCALE;
        else if (cinfo.out_color_space != JCS_GRAYSCALE)
            // Blue, green, red: the order of a bitmap's rows.
            cinfo.out_color_space = JCS_EXT_BGR;
        if (!fourComponents
            && (options.Depth == TJPEGPixelFormat::Depth8 || cinfo.out_color_space == JCS_GRAYSCALE)) {
            cinfo.quantize_colors = TRUE;
            cinfo.desired_number_of_colors = kQuantizedColors;
        }
        if (options.Speed == TJPEGPerformance::Fast) {
            cinfo.dct_method = JDCT_IFAST;
            cinfo.two_pass_quantize = FALSE;
            cinfo.dither_mode = JDITHER_ORDERED;
        }
        context.multiScan = jpeg_has_multiple_scans(&cinfo);
        context.finalDct = cinfo.dct_method;
        context.finalTwoPass = cinfo.two_pass_quantize;
        context.finalDither = cinfo.dither_mode;
        if (options.ShowProgressive && jpeg_has_multiple_scans(&cinfo)) {
            cinfo.enable_2pass_quant = cinfo.two_pass_quantize;
            cinfo.dct_method = JDCT_IFAST;
            cinfo.two_pass_quantize = FALSE;
            cinfo.dither_mode = JDITHER_ORDERED;
            cinfo.buffered_image = TRUE;
        }
    });
}

void RunDecode(std::span<const uint8_t> file, const TJpegDecodeOptions& options,
    const TJpegProgress& progress, TJpegDecoded& result, DecodeContext& context)
{
    PrepareDecoder(file, options, &progress, context);
    jpeg_decompress_struct& cinfo = context.cinfo;
    TBitmap& bitmap = *result.Bitmap;
    const bool eightBit = cinfo.out_color_space != JCS_CMYK
        && (options.Depth == TJPEGPixelFormat::Depth8 || cinfo.out_color_space == JCS_GRAYSCALE);
    bitmap.SetPixelFormat(eightBit ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);
    if (progress)
        progress(TProgressStage::Starting, 0, false, TRect {});
    bool paletteWanted = true;
    if (!options.Palette.empty() && options.Depth == TJPEGPixelFormat::Depth8
        && cinfo.out_color_space == JCS_EXT_BGR) {
        // The library maps the pixels onto the palette we were given.
        Guarded(context, [&] { ColormapFromPalette(&cinfo, options.Palette); });
        bitmap.SetColorTable(options.Palette);
        paletteWanted = false;
    }
    // The library's colour map becomes the bitmap's table unless a palette
    // of our own was handed in.
    auto takePalette = [&] {
        bitmap.SetColorTable(PaletteFromColormap(&cinfo));
        result.PaletteTaken = true;
    };
    Guarded(context, [&] { jpeg_start_decompress(&cinfo); });
    // Every row is written by the library below; a decode that stops early
    // fills what it did not reach.
    bitmap.SetSizeForOverwrite(static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
    if (bitmap.BitsPerPixel() != (eightBit ? 8 : 24))
        throw EInvalidGraphic(jpeg_message::kInvalidBitmap);
    PointRowsAt(context, bitmap);
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
}

// The warning for a file whose data ends before its end marker. A file of
// one scan is grey below the row reached; one of several scans lacks the
// detail of the scans that were still to come.
std::string CutShortText(const DecodeContext& context)
{
    const JDIMENSION height = context.cutHeight;
    if (context.cutRow >= height && !context.multiScan)
        return "cut short: only the end marker is missing";
    const JDIMENSION missing = height - context.cutRow;
    if (!context.multiScan)
        return Format("cut short: %u of %u rows are missing (%u %%) and shown grey", unsigned(missing),
            unsigned(height), unsigned(uint64_t(missing) * 100 / std::max<JDIMENSION>(height, 1)));
    return Format("cut short in scan %d at row %u of %u: the scans still to come are missing",
        context.cutScan, unsigned(context.cutRow), unsigned(height));
}

} // namespace

void DecodeJpeg(std::span<const uint8_t> file, const TJpegDecodeOptions& options,
    const TJpegProgress& progress, TJpegDecoded& result)
{
    result.Bitmap = std::make_unique<TBitmap>();
    result.PaletteTaken = false;
    result.Cancelled = false;
    DecodeContext context;
    try {
        RunDecode(file, options, progress, result, context);
    } catch (const EAbort&) {
        // A cancelled decode keeps the rows it has.
        result.Cancelled = true;
    }
    context.Release();
    if (context.cutShort)
        result.CutShort = CutShortText(context);
    TBitmap& bitmap = *result.Bitmap;
    if (static_cast<int>(context.rowsWritten) < bitmap.Height()) {
        bitmap.Canvas().SetBrushColor(clWhite);
        bitmap.Canvas().FillRect(
            TRect { 0, static_cast<int>(context.rowsWritten), bitmap.Width(), bitmap.Height() });
    }
}

namespace {

// Rows of blue, green, red (padded: and one unused byte) per pixel,
// distance bytes apart.
std::optional<std::vector<uint8_t>> EncodeRows(const uint8_t* first, ptrdiff_t distance, JDIMENSION width,
    JDIMENSION height, bool padded, const TJpegEncodeOptions& options, const TJpegProgress& progress)
{
    EncodeContext& context = ThreadCompressor(&progress);
    TMemoryStream output;
    try {
        JSAMPARRAY rows = nullptr;
        Guarded(context, [&] {
            jpeg_compress_struct& cinfo = context.cinfo;
            StreamDestination(&cinfo, output);
            cinfo.image_width = width;
            cinfo.image_height = height;
            cinfo.input_components = padded ? 4 : 3;
            cinfo.in_color_space = padded ? JCS_EXT_BGRX : JCS_EXT_BGR;
            jpeg_set_defaults(&cinfo);
            jpeg_set_quality(&cinfo, options.Quality, TRUE);
            context.tablesChanged = options.Progressive;
            if (options.Gray)
                jpeg_set_colorspace(&cinfo, JCS_GRAYSCALE);
            else if (options.FullChroma)
                cinfo.comp_info[0].h_samp_factor = cinfo.comp_info[0].v_samp_factor = 1;
            if (options.Progressive)
                jpeg_simple_progression(&cinfo);
            rows = static_cast<JSAMPARRAY>((*cinfo.mem->alloc_small)(
                reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE, sizeof(JSAMPROW) * height));
            // The library only reads through these rows.
            for (JDIMENSION y = 0; y < height; ++y)
                rows[y] = const_cast<JSAMPROW>(first + static_cast<ptrdiff_t>(y) * distance);
        });
        if (progress)
            progress(TProgressStage::Starting, 0, false, TRect {});
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
        return std::nullopt;
    }
    return std::move(output.Bytes());
}

} // namespace

void CheckJpegWritable(int64_t width, int64_t height)
{
    if (width > kMaxJpegSide || height > kMaxJpegSide)
        throw EJPEG(Format(jpeg_message::kCannotWrite, static_cast<long long>(width),
            static_cast<long long>(height), kMaxJpegSide, kMaxJpegSide));
}

std::optional<std::vector<uint8_t>> EncodeJpeg(
    const TBitmap& bitmap, const TJpegEncodeOptions& options, const TJpegProgress& progress)
{
    CheckJpegWritable(bitmap.Width(), bitmap.Height());
    const auto height = static_cast<JDIMENSION>(bitmap.Height());
    // Shares the held pixels; only a bitmap of another layout is converted.
    TBitmap source;
    source.Assign(bitmap);
    if (source.BitsPerPixel() != 24 && source.PixelFormat() != TPixelFormat::pf32bit)
        source.SetPixelFormat(TPixelFormat::pf24bit);
    const TBitmap& rowsOf = source;
    const uint8_t* first = rowsOf.ScanLine(0);
    const ptrdiff_t distance = height > 1 ? rowsOf.ScanLine(1) - first : 0;
    return EncodeRows(first, distance, static_cast<JDIMENSION>(bitmap.Width()), height,
        source.BitsPerPixel() == 32, options, progress);
}

std::optional<std::vector<uint8_t>> EncodeJpeg(
    const TPixelView& pixels, const TJpegEncodeOptions& options, const TJpegProgress& progress)
{
    if (pixels.Layout != TPixelLayout::Bgr24 || pixels.Width <= 0 || pixels.Height <= 0)
        throw EInvalidGraphicOperation("A JPEG file is written from 24-bit pixels");
    CheckJpegWritable(pixels.Width, pixels.Height);
    return EncodeRows(pixels.Data, pixels.Stride, static_cast<JDIMENSION>(pixels.Width),
        static_cast<JDIMENSION>(pixels.Height), false, options, progress);
}

TJpegHeaderInfo ReadJpegHeader(std::span<const uint8_t> file)
{
    DecodeContext context;
    CreateDecompressor(context, nullptr);
    TJpegHeaderInfo info;
    Guarded(context, [&] {
        jpeg_decompress_struct& cinfo = context.cinfo;
        MemorySource(&cinfo, file);
        jpeg_read_header(&cinfo, TRUE);
        CheckImageSize(&cinfo);
        info.Width = cinfo.image_width;
        info.Height = cinfo.image_height;
        info.Grayscale = cinfo.jpeg_color_space == JCS_GRAYSCALE;
        info.MultiScan = jpeg_has_multiple_scans(&cinfo);
    });
    return info;
}

TJpegOutputSize JpegOutputSize(std::span<const uint8_t> file, const TJpegDecodeOptions& options)
{
    DecodeContext context;
    PrepareDecoder(file, options, nullptr, context);
    TJpegOutputSize size;
    Guarded(context, [&] {
        jpeg_calc_output_dimensions(&context.cinfo);
        size.Width = static_cast<int>(context.cinfo.output_width);
        size.Height = static_cast<int>(context.cinfo.output_height);
        size.MultiScan = jpeg_has_multiple_scans(&context.cinfo);
    });
    return size;
}

} // namespace sw
