#pragma once

// The GIF object model: an image (a graphic) owning a header, a list of
// frames and a trailer; frames own their colour table, pixel block and the
// extensions that precede them in the file. Writing produces GIF87a or
// GIF89a files; reading fills the same classes.

#include "base/stream.h"
#include "imaging/bitmap.h"
#include "imaging/gif/color_reduction.h"
#include "imaging/gif/gif_color_map.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace sw {

class TGIFImage;
class TGIFSubImage;
class TGIFGraphicControlExtension;

enum class TGIFSeverity { Info, Warning, Error };
enum class TGIFProgressStage { Starting, Running, Ending };

using TGIFWarningEvent = std::function<void(TGIFSeverity severity, const std::string& message)>;
using TGIFProgressEvent
    = std::function<void(TGIFProgressStage stage, int percent, const std::string& message)>;

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
    virtual void LoadFromStream(TStream& stream) = 0;
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
    void LoadFromStream(TStream& stream) override;

private:
    uint16_t m_width = 0;
    uint16_t m_height = 0;
    uint8_t m_packed = 0;
    uint8_t m_background = 0;
    uint8_t m_aspectRatio = 0;
    TGIFGlobalColorMap m_colorMap;
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

private:
    TGIFSubImage* m_frame;
};

using TGIFExtensionFactory = std::function<std::unique_ptr<TGIFExtension>(TGIFSubImage* frame)>;

// The extension classes by label, searched from the last registration
// backwards. Holds the graphic control extension from the start.
void RegisterExtension(uint8_t label, TGIFExtensionFactory factory);
const TGIFExtensionFactory* FindExtensionFactory(uint8_t label);

class TGIFExtensionList : public TGIFList<TGIFExtension> { };

enum class TDisposalMethod : uint8_t { NoAction = 0, DoNothing = 1, Background = 2, Previous = 3 };

class TGIFGraphicControlExtension : public TGIFExtension {
public:
    static constexpr uint8_t kLabel = 0xF9;

    // The first one made for a frame becomes the frame's reference to its
    // transparency.
    explicit TGIFGraphicControlExtension(TGIFSubImage* frame);
    ~TGIFGraphicControlExtension() override;

    uint8_t Label() const override { return kLabel; }

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

    void LoadFromStream(TStream& stream) override;

protected:
    void SaveBody(TStream& stream) override;

private:
    uint8_t m_blockSize = 4;
    uint8_t m_packed = 0;
    uint16_t m_delay = 0;
    uint8_t m_transparentIndex = 0;
    uint8_t m_terminator = 0;
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

    std::vector<uint8_t>& Data() { return m_data; }
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
    const TBitmap* Bitmap() const { return m_bitmap.get(); }

    // Removes the extensions, empties the colour table, frees the pixel
    // block, sets the size to 0 x 0 and clears the transparent flag.
    void Clear();
    // Makes the frame from a bitmap: 1, 4 and 8 bits per pixel are taken
    // as they are; other formats are reduced with the owner's settings. When
    // the bitmap's transparent flag is set, pixels of its transparent colour
    // get an entry of their own. Reports "Converting..." progress.
    void Assign(const TBitmap& bitmap);
    // Sorts the local colour table by use (also remapping the transparent
    // index); see TGIFColorMap::SortByUsage.
    bool SortByUsage();

    // 2 when the local table is marked sorted or there are extensions.
    int Version() const override;
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;

private:
    friend class TGIFGraphicControlExtension;
    friend class TGIFImage;
    void AllocateData();
    void ReadBitmap(const TBitmap& kept);

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
    std::unique_ptr<TBitmap> m_bitmap;
};

class TGIFImageList : public TGIFList<TGIFSubImage> { };

class TGIFTrailer : public TGIFItem {
public:
    using TGIFItem::TGIFItem;
    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
};

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

    // The largest version any frame needs, scanning in order; 0 without
    // frames.
    int Version() const;
    // ColorBits of the largest colour table, global or local.
    int ColorResolutionBits() const;

    void SaveToStream(TStream& stream) override;
    void LoadFromStream(TStream& stream) override;
    void Draw(TCanvas& canvas, const TRect& rect) override;

    TGIFWarningEvent OnWarning;
    TGIFProgressEvent OnProgress;

    void Warning(TGIFSeverity severity, const std::string& message) const;
    void Progress(TGIFProgressStage stage, int percent, const std::string& message) const;

private:
    friend class TGIFSubImage;
    // Widens the logical screen to hold the frame, with warnings when it
    // was already set.
    void FrameBoundsChanged(const TGIFSubImage& frame);

    TGIFHeader m_header;
    TGIFImageList m_images;
    TGIFDefaults m_settings;
};

} // namespace sw
