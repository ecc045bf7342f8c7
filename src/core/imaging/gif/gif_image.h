#pragma once

// The GIF object model: an image (a graphic) owning a header, a list of
// frames and a trailer; frames own their colour table, pixel block and the
// extensions that precede them in the file. Writing produces GIF87a or
// GIF89a files; reading fills the same classes.
//
// Where the parts live: gif_image.cpp holds the model and the writing,
// gif_reader.cpp the reading and the bitmaps a read image is shown through,
// gif_frame_assign.cpp TGIFSubImage::Assign (a bitmap made into a frame).

#include "core/base/byte_reader.h"
#include "core/base/stream.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/gif/gif_color_map.h"
#include "core/imaging/gif/gif_settings.h"
#include "core/imaging/progress.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sw {

class TGIFImage;
class TGIFSubImage;
class TGIFGraphicControlExtension;

enum class TGIFSeverity { Info, Warning, Error };

using TGIFWarningEvent = std::function<void(TGIFSeverity severity, const std::string& message)>;

// Registers "gif" ("GIF Image") with the picture loader. Safe to call more
// than once; call it at start-up (static initialisers in a static library
// are not linked in).
void RegisterGifImageFormat();

class TGIFItem {
public:
    explicit TGIFItem(TGIFImage* image)
        : m_image(image)
    { }
    virtual ~TGIFItem() = default;
    TGIFItem(const TGIFItem&) = delete;
    TGIFItem& operator=(const TGIFItem&) = delete;

    TGIFImage* Image() const { return m_image; }
    // The GIF version this item needs: 1 (87a) or 2 (89a).
    virtual int Version() const { return 1; }
    // Passes the message to the owning image's warning listener, if any.
    virtual void Warning(TGIFSeverity severity, const std::string& message) const;

    virtual void SaveToStream(TStream& stream) = 0;
    // Reads the item at the stream's position through Load and leaves the
    // stream where Load stopped (also when it fails).
    void LoadFromStream(TStream& stream);
    // Reads the item at the reader's position; a short read of a field the
    // item cannot do without is a GIFException "Premature end of data".
    virtual void Load(TByteReader& reader) = 0;
    void SaveToFile(const std::string& fileName);
    void LoadFromFile(const std::string& fileName);

private:
    TGIFImage* m_image;
};

// An ordered list that owns its items.
template <typename T> class TGIFList {
public:
    int Count() const { return static_cast<int>(m_items.size()); }
    bool Empty() const { return m_items.empty(); }
    T& operator[](int index) const { return *m_items.at(static_cast<size_t>(index)); }
    T& Add(std::unique_ptr<T> item)
    {
        m_items.push_back(std::move(item));
        return *m_items.back();
    }
    void Delete(int index) { m_items.erase(m_items.begin() + index); }
    void Clear() { m_items.clear(); }
    auto begin() const { return m_items.begin(); }
    auto end() const { return m_items.end(); }

private:
    std::vector<std::unique_ptr<T>> m_items;
};

// The logical screen descriptor and the global colour table.
class TGIFHeader : public TGIFItem {
public:
    using TGIFItem::TGIFItem;

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void SetWidth(int width) { m_width = static_cast<uint16_t>(width); }
    void SetHeight(int height) { m_height = static_cast<uint16_t>(height); }
    uint8_t Packed() const { return m_packed; }
    uint8_t BackgroundColorIndex() const { return m_background; }
    void SetBackgroundColorIndex(uint8_t index) { m_background = index; }
    uint8_t AspectRatio() const { return m_aspectRatio; }
    void SetAspectRatio(uint8_t ratio) { m_aspectRatio = ratio; }
    TGIFGlobalColorMap& ColorMap() { return m_colorMap; }
    const TGIFGlobalColorMap& ColorMap() const { return m_colorMap; }

    // Empties the global table and sets the size to 0 x 0; the background
    // index and aspect ratio stay.
    void Clear();
    // The signature with the image's version ("Unsupported GIF version"
    // before anything is written when it has no frames), the descriptor with
    // a recomputed packed byte, and the global table when it has entries.
    void SaveToStream(TStream& stream) override;
    void Load(TByteReader& reader) override;

private:
    uint16_t m_width = 0;
    uint16_t m_height = 0;
    uint8_t m_packed = 0;
    uint8_t m_background = 0;
    uint8_t m_aspectRatio = 0;
    TGIFGlobalColorMap m_colorMap;
};

class TGIFExtension;

// An extension class as the reader sees it: its label, how to make one, and
// how it picks a more specific class from the bytes after the label.
struct TGIFExtensionClass {
    const char* Name;
    uint8_t Label;
    std::unique_ptr<TGIFExtension> (*Create)(TGIFSubImage* frame);
    // The reader stands after the label (and is put back by the caller).
    // Returns the class for the bytes ahead: self when nothing more specific
    // fits, nullptr when the bytes rule out every class.
    const TGIFExtensionClass* (*FindSubClass)(const TGIFExtensionClass& self, TByteReader& reader);
};

class TGIFExtension : public TGIFItem {
public:
    explicit TGIFExtension(TGIFSubImage* frame);

    TGIFSubImage* Frame() const { return m_frame; }
    int Version() const override { return 2; }
    virtual uint8_t Label() const = 0;

    // Writes 0x21, the label and the body.
    void SaveToStream(TStream& stream) override;

protected:
    virtual void SaveBody(TStream& stream) = 0;
    // Reads 0x21 ("Invalid extension introducer" otherwise) and the label
    // ("Internal error: Extension Instance does not match Extension Label"
    // when it is not this class's).
    void ReadIntroducer(TByteReader& reader) const;

private:
    TGIFSubImage* m_frame;
};

// The extension classes by label, searched from the last entry backwards.
// Holds 0x01, 0xF9, 0xFE and 0xFF from the start.
class TExtensionList {
public:
    static void Add(const TGIFExtensionClass& extensionClass);
    static const TGIFExtensionClass* Find(uint8_t label);
};

// Application extension classes by their 11 identifier bytes (compared byte
// for byte). Holds "NETSCAPE2.0" and "ANIMEXTS1.0" from the start.
class TAppExtensionList {
public:
    static void Add(const std::string& identifier, const TGIFExtensionClass& extensionClass);
    static const TGIFExtensionClass* Find(const uint8_t* identifier);
};

// With the reader after an 0x21 byte: the class for the extension ahead, or
// nullptr. The reader is left where it was.
const TGIFExtensionClass* FindExtensionClass(TByteReader& reader);

class TGIFExtensionList : public TGIFList<TGIFExtension> {
public:
    // Reads extensions for the frame up to the next image separator or
    // trailer, which is left unread. "Unknown extension type" for a label
    // without a class; a byte that is no introducer warns "Invalid extension
    // introducer" and ends the list.
    void Load(TByteReader& reader, TGIFSubImage* frame);
};

enum class TDisposalMethod : uint8_t { NoAction = 0, DoNothing = 1, Background = 2, Previous = 3 };

class TGIFGraphicControlExtension : public TGIFExtension {
public:
    static constexpr uint8_t kLabel = 0xF9;

    // The first one made for a frame becomes the frame's reference to its
    // transparency.
    explicit TGIFGraphicControlExtension(TGIFSubImage* frame);
    ~TGIFGraphicControlExtension() override;

    uint8_t Label() const override { return kLabel; }
    static const TGIFExtensionClass& Class();

    bool Transparent() const { return (m_packed & 0x01) != 0; }
    // Also sets the frame's transparent flag.
    void SetTransparent(bool value);
    int TransparentColorIndex() const { return m_transparentIndex; }
    // An index not below the count of the frame's active colour table (when
    // that count is above 0) warns "Invalid color index" and stores 0.
    void SetTransparentColorIndex(int index);
    bool UserInput() const { return (m_packed & 0x02) != 0; }
    void SetUserInput(bool value);
    TDisposalMethod Disposal() const { return static_cast<TDisposalMethod>((m_packed >> 2) & 0x07); }
    void SetDisposal(TDisposalMethod method);
    int Delay() const { return m_delay; }
    void SetDelay(int hundredths) { m_delay = static_cast<uint16_t>(hundredths); }

    void Load(TByteReader& reader) override;

protected:
    void SaveBody(TStream& stream) override;

private:
    uint8_t m_blockSize = 4;
    uint8_t m_packed = 0;
    uint16_t m_delay = 0;
    uint8_t m_transparentIndex = 0;
    uint8_t m_terminator = 0;
};

// Text lines carried in data sub-blocks: each sub-block is one line, cut at
// its first 0 byte. A line longer than 255 bytes is written as several.
using TGIFLines = std::vector<std::string>;

class TGIFCommentExtension : public TGIFExtension {
public:
    static constexpr uint8_t kLabel = 0xFE;
    using TGIFExtension::TGIFExtension;
    uint8_t Label() const override { return kLabel; }
    static const TGIFExtensionClass& Class();

    TGIFLines& Lines() { return m_lines; }
    const TGIFLines& Lines() const { return m_lines; }

    void Load(TByteReader& reader) override;

protected:
    void SaveBody(TStream& stream) override;

private:
    TGIFLines m_lines;
};

// Plain text drawn on a grid of character cells.
class TGIFTextExtension : public TGIFExtension {
public:
    static constexpr uint8_t kLabel = 0x01;
    using TGIFExtension::TGIFExtension;
    uint8_t Label() const override { return kLabel; }
    static const TGIFExtensionClass& Class();

    int Left() const { return m_left; }
    int Top() const { return m_top; }
    int GridWidth() const { return m_width; }
    int GridHeight() const { return m_height; }
    int CellWidth() const { return m_cellWidth; }
    int CellHeight() const { return m_cellHeight; }
    int ForegroundColorIndex() const { return m_foreground; }
    int BackgroundColorIndex() const { return m_background; }
    void SetGrid(int left, int top, int width, int height);
    void SetCell(int width, int height, int foreground, int background);
    TGIFLines& Lines() { return m_lines; }
    const TGIFLines& Lines() const { return m_lines; }

    void Load(TByteReader& reader) override;

protected:
    void SaveBody(TStream& stream) override;

private:
    uint16_t m_left = 0;
    uint16_t m_top = 0;
    uint16_t m_width = 0;
    uint16_t m_height = 0;
    uint8_t m_cellWidth = 0;
    uint8_t m_cellHeight = 0;
    uint8_t m_foreground = 0;
    uint8_t m_background = 0;
    TGIFLines m_lines;
};

// One data sub-block kept as it was read.
using TGIFBlock = std::vector<uint8_t>;

// An application extension: an 11-byte identifier (8 bytes of name, 3 of
// authentication code) and data sub-blocks. This base class keeps the
// sub-blocks as raw bytes; it stands for identifiers it cannot place.
class TGIFApplicationExtension : public TGIFExtension {
public:
    static constexpr uint8_t kLabel = 0xFF;
    static constexpr size_t kIdentifierSize = 11;
    using TGIFExtension::TGIFExtension;
    uint8_t Label() const override { return kLabel; }
    static const TGIFExtensionClass& Class();

    const std::string& Identifier() const { return m_identifier; }
    // Padded with 0 bytes or cut to 11 bytes.
    void SetIdentifier(const std::string& identifier);

    // Block size 10 (read as an 11-byte identifier whose last byte is the
    // first byte of the data) is accepted; below 10 fails with "Unsupported
    // Application Extension block size"; bytes of a block above 11 after the
    // identifier are skipped.
    void Load(TByteReader& reader) override;

protected:
    void SaveBody(TStream& stream) override;
    // The sub-blocks after the identifier, up to and including the 0 block
    // (or the end of the stream).
    virtual void LoadData(TByteReader& reader);
    virtual void SaveData(TStream& stream);

    std::vector<TGIFBlock> m_blocks;

private:
    std::string m_identifier = std::string(kIdentifierSize, '\0');
};

// An identifier without a class of its own: the sub-blocks as they are.
class TGIFUnknownAppExtension : public TGIFApplicationExtension {
public:
    using TGIFApplicationExtension::TGIFApplicationExtension;
    static const TGIFExtensionClass& Class();
    const std::vector<TGIFBlock>& Blocks() const { return m_blocks; }
    std::vector<TGIFBlock>& Blocks() { return m_blocks; }
};

// The looping extension ("NETSCAPE2.0", also read for "ANIMEXTS1.0"):
// sub-block 1 holds the loop count, sub-block 2 a buffer size.
class TGIFAppExtNSLoop : public TGIFApplicationExtension {
public:
    explicit TGIFAppExtNSLoop(TGIFSubImage* frame);
    static const TGIFExtensionClass& Class();

    int Loops() const { return m_loops; }
    void SetLoops(int loops) { m_loops = static_cast<uint16_t>(loops); }
    uint32_t BufferSize() const { return m_bufferSize; }
    void SetBufferSize(uint32_t size) { m_bufferSize = size; }

protected:
    // "Invalid GIF data" when a sub-block is too short for its value.
    void LoadData(TByteReader& reader) override;
    // The loop count, then the buffer size when it is not 0.
    void SaveData(TStream& stream) override;

private:
    uint16_t m_loops = 0;
    uint32_t m_bufferSize = 0;
};

// One frame: image descriptor, local colour table, pixel block (one byte per
// pixel, rows top to bottom, no padding) and the extensions before it.
class TGIFSubImage : public TGIFItem {
public:
    explicit TGIFSubImage(TGIFImage* image);
    ~TGIFSubImage() override;

    int Left() const { return m_left; }
    int Top() const { return m_top; }
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    // Setting a position or size lets the owner widen its logical screen;
    // a size change reallocates the pixel block, zero-filled.
    void SetLeft(int left);
    void SetTop(int top);
    void SetWidth(int width);
    void SetHeight(int height);
    // No pixel block, or width or height 0.
    bool Empty() const;

    uint8_t Packed() const { return m_packed; }
    bool Interlaced() const { return (m_packed & 0x40) != 0; }
    void SetInterlaced(bool value);

    std::vector<uint8_t>& Data()
    {
        SettleKeptBitmap();
        return m_data;
    }
    const std::vector<uint8_t>& Data() const { return m_data; }
    TGIFLocalColorMap& ColorMap() { return m_colorMap; }
    const TGIFLocalColorMap& ColorMap() const { return m_colorMap; }
    // The local table when it has entries, else the image's global one.
    const TGIFColorMap& ActiveColorMap() const;
    TGIFExtensionList& Extensions() { return m_extensions; }
    const TGIFExtensionList& Extensions() const { return m_extensions; }

    bool Transparent() const { return m_transparent; }
    void SetTransparent(bool value) { m_transparent = value; }
    // The frame's first graphic control extension, or nullptr.
    TGIFGraphicControlExtension* GraphicControlExtension() const { return m_graphicControl; }

    // The bitmap the frame was made from, or its reduction; display only.
    const TBitmap* Bitmap() const
    {
        SettleKeptBitmap();
        return m_bitmap.get();
    }

    // Removes the extensions, empties the colour table, frees the pixel
    // block, sets the size to 0 x 0 and clears the transparent flag.
    void Clear();
    // Makes the frame from a bitmap: 1, 4 and 8 bits per pixel are taken
    // as they are; other formats are reduced with the owner's settings. When
    // the bitmap's transparent flag is set, pixels of its transparent colour
    // get an entry of their own. Reports "Converting..." progress.
    void Assign(const TBitmap& bitmap);
    // The frame Assign makes of a 24-bit bitmap with that transparent
    // colour (none: not transparent), from rows that need not belong to a
    // bitmap of their own, such as a cell within a larger picture.
    void AssignRows(const TPixelView& rows, std::optional<TColor> transparentColor);
    // Sorts the local colour table by use (also remapping the transparent
    // index); see TGIFColorMap::SortByUsage.
    bool SortByUsage();

    // 2 when the local table is marked sorted or there are extensions.
    int Version() const override;
    void SaveToStream(TStream& stream) override;
    // The extensions, then (unless the trailer, a 0 byte or the end of the
    // stream comes first) the image descriptor, local colour table and image
    // data. A frame of width or height 0 takes the logical screen's size.
    // A frame over the picture pixel limit fails with a GIFException.
    void Load(TByteReader& reader) override;
    // Fills the pixel block from LZW image data at the reader's position.
    // Pixels the data does not reach keep the transparent index (transparent
    // frame) or 0.
    void DecodeFrameData(TByteReader& reader);

    // The frame as a bitmap, built on first use; nullptr without a pixel
    // block. On a true-colour screen an 8-bit bitmap whose pixels are the
    // frame's indices, with a 256-entry colour table (entries beyond the
    // frame's colours black); dithered to the web cube otherwise. "No global
    // or local color table defined" when no table can be had.
    const TBitmap* FrameBitmap();
    // One bit per pixel, most significant first, set where the pixel is the
    // transparent index; rows padded to 16 bits. Empty unless the frame is
    // transparent and FrameBitmap was built.
    const std::vector<uint8_t>& TransparencyMask() const { return m_mask; }

private:
    friend class TGIFGraphicControlExtension;
    friend class TGIFImage;
    // An empty pixel block with room for width x height bytes, or
    // EOutOfResources.
    void ReserveData();
    // The owner's reduction settings, or the defaults without an owner.
    TGIFDefaults Settings() const;
    // Clear, the size checks and progress around fill, which makes the
    // pixels of a frame of that size.
    template <typename Fill> void AssignSized(int width, int height, Fill&& fill);
    // The web-cube reduction of 24-bit rows of the frame's size.
    void ReduceRows(const TPixelView& rows, const std::optional<TColor>& transparentColor);
    // The pixel block at width x height bytes, zero-filled.
    void AllocateData();
    // Lets the owner widen its logical screen to the frame's bounds.
    void BoundsChanged();
    // Tells the owner, every 32 rows, the share of rows done after row y.
    void RowDone(int y, const char* message) const;
    void ReadBitmap(const TBitmap& kept);
    // Makes the web-cube reduction Assign left pending from the pixel block;
    // called before anything changes the block or the size.
    void SettleKeptBitmap() const;
    void BuildTrueColorBitmap(const TGIFColorMap& palette);
    void BuildDitheredBitmap(const TGIFColorMap& palette);
    void BuildTransparencyMask();
    void DropBitmap();

    uint16_t m_left = 0;
    uint16_t m_top = 0;
    uint16_t m_width = 0;
    uint16_t m_height = 0;
    uint8_t m_packed = 0;
    std::vector<uint8_t> m_data;
    TGIFLocalColorMap m_colorMap;
    TGIFExtensionList m_extensions;
    bool m_transparent = false;
    TGIFGraphicControlExtension* m_graphicControl = nullptr;
    mutable std::unique_ptr<TBitmap> m_bitmap;
    // Set while m_bitmap is the web-cube reduction not yet made: its indices
    // are the pixel block's through this table. Few callers ever ask for
    // it, and making it would cost a pass and a block as large as the frame.
    mutable std::unique_ptr<TColorRemap> m_keptFrom;
    std::unique_ptr<TBitmap> m_frameBitmap;
    std::vector<uint8_t> m_mask;
};

class TGIFImageList : public TGIFList<TGIFSubImage> { };

class TGIFTrailer : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
    void SaveToStream(TStream& stream) override;
    void Load(TByteReader& reader) override;
};

// The bound on all pixel blocks of one image together, four frames of the
// largest picture any reader accepts (kMaxPicturePixels, which bounds each
// frame and the logical screen). A file asking for more fails with a
// GIFException naming the limit instead of exhausting memory.
constexpr int64_t kMaxGIFImagePixels = int64_t(1) << 28;

// A frame's descriptor holds 16-bit sizes. GIFException "Image too large for
// GIF: W x H (at most 65535 x 65535)" for a bitmap no frame can hold.
void CheckGifWritable(int64_t width, int64_t height);

// Whether the screen has 8 bits per pixel or fewer (sampled once); frame
// bitmaps are then dithered to the web cube.
bool GifLowColorScreen();

class TGIFImage : public TGraphic {
public:
    // An empty header, no frames, settings from GifDefaults.
    TGIFImage();
    ~TGIFImage() override;

    const char* ClassName() const override { return "TGIFImage"; }
    // The logical screen size.
    int Width() const override { return m_header.Width(); }
    int Height() const override { return m_header.Height(); }
    bool Empty() const override { return m_images.Empty(); }
    void SetWidth(int width) override;
    void SetHeight(int height) override;

    TGIFHeader& Header() { return m_header; }
    const TGIFHeader& Header() const { return m_header; }
    TGIFImageList& Images() { return m_images; }
    const TGIFImageList& Images() const { return m_images; }

    TColorReduction ReductionKind() const { return m_settings.ReductionKind; }
    void SetReductionKind(TColorReduction kind) { m_settings.ReductionKind = kind; }
    TDitherMode DitherKind() const { return m_settings.DitherKind; }
    void SetDitherKind(TDitherMode kind) { m_settings.DitherKind = kind; }
    int QuantizeBits() const { return m_settings.QuantizeBits; }
    void SetQuantizeBits(int bits) { m_settings.QuantizeBits = bits; }
    TGIFEncoding EncodingKind() const { return m_settings.EncodingKind; }
    void SetEncodingKind(TGIFEncoding kind) { m_settings.EncodingKind = kind; }

    // Frames, global colour table and logical screen size.
    void Clear();
    // A bitmap (or a graphic that converts to one) becomes the only frame.
    // A failing frame is freed and the exception passes on; a graphic that
    // cannot become a bitmap fails with "Cannot assign a %s to a %s".
    void Assign(const TGraphic& source) override;
    // 24-bit rows become the only frame (see TGIFSubImage::AssignRows).
    void AssignRows(const TPixelView& rows, std::optional<TColor> transparentColor);

    // The largest version any frame needs, scanning in order; 0 without
    // frames.
    int Version() const;
    // ColorBits of the largest colour table, global or local.
    int ColorResolutionBits() const;

    void SaveToStream(TStream& stream) override;
    // Clears the image and reads a whole file. On a GIFException (or a
    // stream error) the stream goes back to where it stood; frames read
    // before the failure stay. Damage after the header is mostly reported
    // as warnings and reading keeps what it has.
    void LoadFromStream(TStream& stream) override;
    void Draw(TCanvas& canvas, const TRect& rect) override;
    // Only to a bitmap, which gets ImageBitmap (or is emptied without frames).
    bool AssignTo(TGraphic& dest) const override;

    // The first frame on the logical screen, built on first use; nullptr
    // without frames.
    const TBitmap* ImageBitmap() const;
    // The global colour table, or without one the first frame's; "No
    // global or local color table defined" when both are empty.
    const TGIFColorMap& ImagePalette() const;
    // The bound on the pixels of all frames read, kMaxGIFImagePixels unless
    // set lower. Each frame and the logical screen are bounded by the
    // picture pixel limit whatever this says.
    void SetReadLimit(int64_t imagePixels);
    // Reading stops after the first frame with image data: what the picture
    // shows, without the cost of the frames after it. Off by default.
    void SetFirstFrameOnly(bool value) { m_firstFrameOnly = value; }
    // Frame bitmaps are dithered to the web cube; defaults to
    // GifLowColorScreen().
    bool Dithered() const { return m_dithered; }
    void SetDithered(bool value);

    TGIFWarningEvent OnWarning;
    // Loading, saving and frame assignment report with their own message
    // ("Loading...", "Saving...", "Converting..."), rendering a frame
    // bitmap with "Rendering..."; no rectangle is given.
    TProgressEvent OnProgress;

    void Warning(TGIFSeverity severity, const std::string& message) const;
    void Progress(TProgressStage stage, int percent, const std::string& message) const;

private:
    friend class TGIFSubImage;
    // Widens the logical screen to hold the frame, with warnings when it
    // was already set.
    void FrameBoundsChanged(const TGIFSubImage& frame);
    void LoadFromMemory(TMemoryStream& stream);
    // False when it stopped early at the first frame, as asked.
    bool LoadFrames(TByteReader& reader);
    void DropBitmaps();

    TGIFHeader m_header;
    TGIFImageList m_images;
    TGIFDefaults m_settings;
    bool m_dithered;
    mutable std::unique_ptr<TBitmap> m_bitmap;
    int64_t m_pixelsRead = 0;
    int64_t m_maxImagePixels = kMaxGIFImagePixels;
    bool m_firstFrameOnly = false;
};

} // namespace sw
