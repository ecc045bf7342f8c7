#include "core/imaging/psd/psd_reader.h"

#include "core/base/errors.h"
#include "core/base/pixel_limit.h"
#include "core/imaging/psd/psd_bytes.h"
#include "core/imaging/psd/psd_descriptor.h"

#include <cmath>
#include <cstring>

namespace sw {

namespace {

enum class TPsdColorMode : uint16_t {
    Bitmap = 0,
    Grayscale = 1,
    Indexed = 2,
    Rgb = 3,
    Cmyk = 4,
    Multichannel = 7,
    Duotone = 8,
    Lab = 9,
};

// The file layout: a 26-byte header, then four sections, each but the last
// led by its 32-bit length: colour mode data (an indexed file's palette),
// image resources, layer and mask information, and the composite.
struct TPsdSections {
    int Channels = 0;
    int Width = 0;
    int Height = 0;
    int Depth = 0;
    TPsdColorMode Mode = TPsdColorMode::Rgb;
    std::span<const uint8_t> ColorModeData;
    std::span<const uint8_t> Resources;
    std::span<const uint8_t> LayersAndMasks;
    std::span<const uint8_t> ImageData;
};

constexpr int kMaxChannels = 56;
// The largest side a PSD file may have; larger ones are PSB files.
constexpr uint32_t kMaxSide = 30000;
constexpr uint16_t kGuidesResource = 1032;
constexpr uint16_t kSlicesResource = 1050;
constexpr uint16_t kVersionResource = 1057;

[[noreturn]] void ThrowUnsupported(const std::string& reason)
{
    throw EInvalidGraphic("PSD image is not supported (" + reason + ")");
}

// Colour planes the composite needs; any further channel is alpha or a spot
// colour.
int ColorPlanes(TPsdColorMode mode)
{
    switch (mode) {
    case TPsdColorMode::Rgb:
        return 3;
    case TPsdColorMode::Cmyk:
        return 4;
    default:
        return 1;
    }
}

void CheckMode(uint16_t mode, int depth, int channels)
{
    switch (static_cast<TPsdColorMode>(mode)) {
    case TPsdColorMode::Bitmap:
        if (depth != 1)
            ThrowInvalidPsd(Format("bitmap mode at %d bits per channel", depth));
        break;
    case TPsdColorMode::Indexed:
        if (depth != 8)
            ThrowInvalidPsd(Format("indexed colour at %d bits per channel", depth));
        break;
    case TPsdColorMode::Grayscale:
    case TPsdColorMode::Rgb:
    case TPsdColorMode::Cmyk:
        if (depth == 1)
            ThrowInvalidPsd("1 bit per channel outside bitmap mode");
        break;
    case TPsdColorMode::Multichannel:
        ThrowUnsupported("multichannel mode; bitmap, greyscale, indexed, RGB and CMYK are read");
    case TPsdColorMode::Duotone:
        ThrowUnsupported("duotone mode; bitmap, greyscale, indexed, RGB and CMYK are read");
    case TPsdColorMode::Lab:
        ThrowUnsupported("Lab mode; bitmap, greyscale, indexed, RGB and CMYK are read");
    default:
        ThrowInvalidPsd(Format("unknown colour mode %u", unsigned(mode)));
    }
    if (channels < ColorPlanes(static_cast<TPsdColorMode>(mode)))
        ThrowInvalidPsd(Format("%d channels are too few for its colour mode", channels));
}

TPsdSections ReadSections(std::span<const uint8_t> bytes)
{
    if (!IsPsdSignature(bytes))
        ThrowInvalidPsd("no 8BPS signature");
    TPsdBytes in(bytes);
    in.Skip(4);
    const uint16_t version = in.U16();
    if (version == 2)
        ThrowUnsupported("a PSB large document; save the design as PSD");
    if (version != 1)
        ThrowInvalidPsd(Format("version %u", unsigned(version)));
    in.Skip(6);
    TPsdSections s;
    const uint16_t channels = in.U16();
    const uint32_t height = in.U32();
    const uint32_t width = in.U32();
    const uint16_t depth = in.U16();
    const uint16_t mode = in.U16();
    if (channels < 1 || channels > kMaxChannels)
        ThrowInvalidPsd(Format("%u channels", unsigned(channels)));
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide)
        ThrowInvalidPsd(Format("size %u x %u", unsigned(width), unsigned(height)));
    if (depth == 32)
        ThrowUnsupported("32 bits per channel; 1, 8 and 16 are read");
    if (depth != 1 && depth != 8 && depth != 16)
        ThrowInvalidPsd(Format("%u bits per channel", unsigned(depth)));
    CheckMode(mode, depth, channels);
    if (ExceedsPixelLimit(width, height))
        throw EInvalidGraphic(PictureTooLargeMessage(width, height));
    s.Channels = channels;
    s.Width = static_cast<int>(width);
    s.Height = static_cast<int>(height);
    s.Depth = depth;
    s.Mode = static_cast<TPsdColorMode>(mode);
    s.ColorModeData = in.Bytes(in.U32());
    s.Resources = in.Bytes(in.U32());
    s.LayersAndMasks = in.Bytes(in.U32());
    s.ImageData = in.Bytes(in.Remaining());
    return s;
}

// ---- the composite ----

// PackBits: a header byte n, then n + 1 literal bytes (n >= 0) or one byte
// repeated 1 - n times (n < 0; -128 is padding). A run past the row's end is
// cut at it, as lenient writers' rows need.
void UnpackBitsRow(std::span<const uint8_t> in, uint8_t* out, size_t size)
{
    size_t i = 0;
    size_t o = 0;
    while (o < size) {
        if (i >= in.size())
            ThrowInvalidPsd("an RLE row of the composite ends early");
        const int header = static_cast<int8_t>(in[i++]);
        if (header >= 0) {
            const size_t count = size_t(header) + 1;
            if (count > in.size() - i)
                ThrowInvalidPsd("an RLE row of the composite ends early");
            const size_t kept = std::min(count, size - o);
            std::memcpy(out + o, in.data() + i, kept);
            i += count;
            o += kept;
        } else if (header != -128) {
            if (i >= in.size())
                ThrowInvalidPsd("an RLE row of the composite ends early");
            const size_t kept = std::min(size_t(1 - header), size - o);
            std::memset(out + o, in[i++], kept);
            o += kept;
        }
    }
}

// The stored rows of the colour planes, plane by plane, top-down.
class TCompositeRows {
public:
    TCompositeRows(const TPsdSections& s, size_t rowBytes)
        : m_rowBytes(rowBytes)
        , m_height(size_t(s.Height))
    {
        const size_t planes = size_t(ColorPlanes(s.Mode));
        TPsdBytes in(s.ImageData);
        m_compression = in.U16();
        if (m_compression == 0) {
            // Only the colour planes need to be there: alpha may be cut off.
            m_data = in.Bytes(uint64_t(planes) * m_height * rowBytes);
        } else if (m_compression == 1) {
            // A table of every channel's row lengths, then the packed rows.
            const uint64_t rows = uint64_t(s.Channels) * m_height;
            TPsdBytes lengths = in.Sub(rows * 2);
            m_data = in.Bytes(in.Remaining());
            // Each packed row takes at least two bytes for every 128 it
            // holds; checking that first keeps a small file from making the
            // reader allocate a large picture it cannot fill.
            const size_t minimum = (rowBytes + 127) / 128 * 2;
            m_rows.resize(planes * m_height);
            uint64_t offset = 0;
            for (size_t row = 0; row < m_rows.size(); ++row) {
                const uint16_t length = lengths.U16();
                if (length < minimum)
                    ThrowInvalidPsd("an RLE row of the composite is too short for its width");
                if (length > m_data.size() - offset)
                    ThrowInvalidPsd("the composite's RLE rows run past the end of the file");
                m_rows[row] = m_data.subspan(static_cast<size_t>(offset), length);
                offset += length;
            }
        } else if (m_compression == 2 || m_compression == 3) {
            ThrowUnsupported("a zip-compressed composite; raw and RLE are read");
        } else {
            ThrowInvalidPsd(Format("composite compression %u", unsigned(m_compression)));
        }
    }

    void Row(size_t plane, size_t y, uint8_t* out) const
    {
        if (m_compression == 0)
            std::memcpy(out, m_data.data() + (plane * m_height + y) * m_rowBytes, m_rowBytes);
        else
            UnpackBitsRow(m_rows[plane * m_height + y], out, m_rowBytes);
    }

private:
    size_t m_rowBytes;
    size_t m_height;
    uint16_t m_compression = 0;
    std::span<const uint8_t> m_data;
    std::vector<std::span<const uint8_t>> m_rows;
};

// ---- the design record ----

void ReadGuides(TPsdBytes in, TLayeredDesign& design)
{
    in.Skip(12); // version, grid cycles
    const uint32_t count = in.U32();
    for (uint32_t i = 0; i < count; ++i) {
        TDesignGuide guide;
        guide.Position32 = in.I32();
        guide.Horizontal = in.U8() == 1;
        guide.Position = static_cast<int>(std::lround(guide.Position32 / 32.0));
        design.Guides.push_back(guide);
    }
}

TRect ReadRect(TPsdBytes& in, bool topFirst)
{
    TRect rect;
    if (topFirst) {
        rect.Top = in.I32();
        rect.Left = in.I32();
        rect.Bottom = in.I32();
        rect.Right = in.I32();
    } else {
        rect.Left = in.I32();
        rect.Top = in.I32();
        rect.Right = in.I32();
        rect.Bottom = in.I32();
    }
    return rect;
}

void ReadSlicesV6(TPsdBytes& in, TLayeredDesign& design)
{
    ReadRect(in, true); // around every slice
    in.UnicodeString(); // the set's name
    const uint32_t count = in.U32();
    for (uint32_t i = 0; i < count; ++i) {
        TDesignSlice slice;
        slice.Id = in.I32();
        in.U32(); // group
        const uint32_t origin = in.U32();
        slice.Origin = origin == 1 ? TDesignSlice::TOrigin::Layer
            : origin == 2          ? TDesignSlice::TOrigin::User
                                   : TDesignSlice::TOrigin::Auto;
        if (origin == 1)
            in.U32(); // the layer it follows
        slice.Name = in.UnicodeString();
        in.U32(); // type
        slice.Bounds = ReadRect(in, false);
        slice.Url = in.UnicodeString();
        slice.Target = in.UnicodeString();
        slice.Message = in.UnicodeString();
        slice.Alt = in.UnicodeString();
        in.U8(); // cell text is HTML
        slice.CellText = in.UnicodeString();
        in.Skip(12); // alignments, colour
        design.Slices.push_back(std::move(slice));
        // A descriptor of further settings may follow the last slice.
    }
}

int64_t IntegerOf(const TPsdValue* value)
{
    return value && value->Kind == TPsdValue::TKind::Integer ? value->Integer : 0;
}

void ReadSlicesDescriptor(TPsdBytes& in, TLayeredDesign& design)
{
    in.U32(); // descriptor version
    const TPsdValue root = ReadPsdDescriptor(in);
    const TPsdValue* slices = root.Find("slices");
    if (!slices || slices->Kind != TPsdValue::TKind::List)
        return;
    for (const TPsdValue& item : slices->Items) {
        if (item.Kind != TPsdValue::TKind::Descriptor)
            continue;
        TDesignSlice slice;
        slice.Id = static_cast<int32_t>(IntegerOf(item.Find("sliceID")));
        const TPsdValue* origin = item.Find("origin");
        const std::string originText = origin ? origin->Text : std::string();
        slice.Origin = originText == "userGenerated" ? TDesignSlice::TOrigin::User
            : originText == "layerGenerated"         ? TDesignSlice::TOrigin::Layer
                                                     : TDesignSlice::TOrigin::Auto;
        slice.Name = item.TextOf("Nm  ");
        if (const TPsdValue* bounds = item.Find("bounds")) {
            slice.Bounds.Left = static_cast<int>(IntegerOf(bounds->Find("Left")));
            slice.Bounds.Top = static_cast<int>(IntegerOf(bounds->Find("Top ")));
            slice.Bounds.Right = static_cast<int>(IntegerOf(bounds->Find("Rght")));
            slice.Bounds.Bottom = static_cast<int>(IntegerOf(bounds->Find("Btom")));
        }
        slice.Url = item.TextOf("url");
        slice.Target = item.TextOf("null");
        slice.Message = item.TextOf("Msge");
        slice.Alt = item.TextOf("altTag");
        slice.CellText = item.TextOf("cellText");
        design.Slices.push_back(std::move(slice));
    }
}

void ReadSlices(TPsdBytes in, TLayeredDesign& design)
{
    const uint32_t version = in.U32();
    if (version == 6)
        ReadSlicesV6(in, design);
    else if (version == 7 || version == 8)
        ReadSlicesDescriptor(in, design);
    // Other versions are unknown; the design simply has no slices.
}

bool IsResourceSignature(const std::string& signature)
{
    return signature == "8BIM" || signature == "MeSa" || signature == "AgHg" || signature == "PHUT"
        || signature == "DCSR";
}

// Calls visit(id, data) for each image resource.
template <typename Visit> void ForEachResource(std::span<const uint8_t> bytes, Visit visit)
{
    TPsdBytes in(bytes);
    // Each block: signature, id, padded Pascal name, length, data padded to
    // an even length. Fewer bytes than the smallest block are padding.
    while (in.Remaining() >= 12) {
        if (!IsResourceSignature(in.Key4()))
            ThrowInvalidPsd("an image resource without its signature");
        const uint16_t id = in.U16();
        in.PascalString(2);
        const uint32_t size = in.U32();
        TPsdBytes block = in.Sub(size);
        if (size % 2 != 0 && !in.AtEnd())
            in.Skip(1);
        visit(id, block);
    }
}

// A file saved without its composite (to save space) stores a blank one
// and says so in its version resource; files without that resource have
// a real one.
bool HasRealComposite(std::span<const uint8_t> resources)
{
    bool real = true;
    ForEachResource(resources, [&](uint16_t id, TPsdBytes block) {
        if (id == kVersionResource) {
            block.U32(); // version
            real = block.U8() != 0;
        }
    });
    return real;
}

void ReadResources(std::span<const uint8_t> bytes, TLayeredDesign& design)
{
    ForEachResource(bytes, [&](uint16_t id, TPsdBytes block) {
        if (id == kGuidesResource)
            ReadGuides(block, design);
        else if (id == kSlicesResource)
            ReadSlices(block, design);
    });
    design.HasComposite = HasRealComposite(bytes);
}

// A layer record as stored, before groups are put together.
struct TLayerRecord {
    TDesignLayer Layer;
    // 0 a plain layer, 1 or 2 a group (open or closed), 3 the hidden marker
    // that ends a group (it comes first, below the group's layers).
    uint32_t Section = 0;
};

bool IsBlockSignature(uint32_t value)
{
    return value == 0x3842494D /* 8BIM */ || value == 0x38423634 /* 8B64 */;
}

// Writers pad blocks to 2 or 4 bytes, some without counting the padding in
// the length; steps over up to three padding bytes to the next signature.
void SkipBlockPadding(TPsdBytes& in)
{
    for (int i = 0; i < 3 && in.Remaining() >= 4 && !IsBlockSignature(in.PeekU32()); ++i)
        in.Skip(1);
}

std::string ReadTypeToolText(TPsdBytes in)
{
    try {
        in.U16(); // version
        in.Skip(6 * 8); // transform
        in.U16(); // text version
        in.U32(); // descriptor version
        return ReadPsdDescriptor(in).TextOf("Txt ");
    } catch (const EInvalidGraphic&) {
        // The layer stays a text layer; only its characters are unknown.
        return std::string();
    }
}

TLayerRecord ReadLayerRecord(TPsdBytes& in)
{
    TLayerRecord record;
    TDesignLayer& layer = record.Layer;
    const TRect stored = ReadRect(in, true);
    layer.Bounds = stored;
    const uint16_t channels = in.U16();
    if (channels > kMaxChannels)
        ThrowInvalidPsd(Format("a layer with %u channels", unsigned(channels)));
    in.Skip(uint64_t(channels) * 6); // id and data length of each
    if (in.Key4() != "8BIM")
        ThrowInvalidPsd("a layer record without its signature");
    in.Key4(); // blend mode
    layer.Opacity = in.U8();
    in.U8(); // clipping
    layer.Visible = (in.U8() & 0x02) == 0;
    in.U8();
    TPsdBytes extra = in.Sub(in.U32());
    extra.Skip(extra.U32()); // mask
    extra.Skip(extra.U32()); // blending ranges
    layer.Name = extra.PascalString(4);
    while (extra.Remaining() >= 12 && IsBlockSignature(extra.PeekU32())) {
        extra.Skip(4);
        const std::string key = extra.Key4();
        TPsdBytes block = extra.Sub(extra.U32());
        if (key == "luni") {
            layer.Name = block.UnicodeString();
        } else if (key == "lsct" || key == "lsdk") {
            record.Section = block.U32();
        } else if (key == "TySh") {
            layer.IsText = true;
            layer.Text = ReadTypeToolText(block);
        }
        SkipBlockPadding(extra);
    }
    return record;
}

void ReadLayerInfo(TPsdBytes in, std::vector<TLayerRecord>& records)
{
    if (in.AtEnd())
        return;
    // A negative count says the composite's first extra channel is its
    // transparency; the layers are the same.
    const int count = std::abs(int(in.I16()));
    for (int i = 0; i < count; ++i)
        records.push_back(ReadLayerRecord(in));
    // The layers' own pixels follow; the design does not need them.
}

void ReadLayers(std::span<const uint8_t> bytes, TLayeredDesign& design)
{
    TPsdBytes in(bytes);
    std::vector<TLayerRecord> records;
    if (in.Remaining() >= 4)
        ReadLayerInfo(in.Sub(in.U32()), records);
    // Files of 16 and 32 bits keep their layers in a block after the global
    // mask instead.
    if (records.empty() && in.Remaining() >= 4) {
        const uint32_t maskLength = in.U32();
        if (maskLength <= in.Remaining()) {
            in.Skip(maskLength);
            SkipBlockPadding(in);
            while (records.empty() && in.Remaining() >= 12 && IsBlockSignature(in.PeekU32())) {
                in.Skip(4);
                const std::string key = in.Key4();
                TPsdBytes block = in.Sub(in.U32());
                if (key == "Lr16" || key == "Lr32" || key == "Layr")
                    ReadLayerInfo(block, records);
                SkipBlockPadding(in);
            }
        }
    }

    // Put groups together: stored bottom first, a group's end marker comes
    // before its layers and the group's own record after them.
    std::vector<int> open;
    for (TLayerRecord& record : records) {
        const int parent = open.empty() ? -1 : open.back();
        if (record.Section == 3) {
            TDesignLayer group;
            group.IsGroup = true;
            group.Parent = parent;
            open.push_back(static_cast<int>(design.Layers.size()));
            design.Layers.push_back(std::move(group));
        } else if ((record.Section == 1 || record.Section == 2) && !open.empty()) {
            TDesignLayer& group = design.Layers[static_cast<size_t>(open.back())];
            const int groupParent = group.Parent;
            group = std::move(record.Layer);
            group.IsGroup = true;
            group.Parent = groupParent;
            open.pop_back();
        } else {
            record.Layer.IsGroup = record.Section == 1 || record.Section == 2;
            record.Layer.Parent = parent;
            design.Layers.push_back(std::move(record.Layer));
        }
    }
    for (TDesignLayer& layer : design.Layers) {
        layer.Shown
            = layer.Visible && (layer.Parent < 0 || design.Layers[static_cast<size_t>(layer.Parent)].Shown);
    }
}

} // namespace

bool IsPsdSignature(std::span<const uint8_t> bytes)
{
    return bytes.size() >= 4 && std::memcmp(bytes.data(), "8BPS", 4) == 0;
}

TLayeredDesign ReadPsdDesign(std::span<const uint8_t> bytes)
{
    const TPsdSections s = ReadSections(bytes);
    TLayeredDesign design;
    design.Width = s.Width;
    design.Height = s.Height;
    ReadResources(s.Resources, design);
    ReadLayers(s.LayersAndMasks, design);
    return design;
}

void ReadPsdComposite(std::span<const uint8_t> bytes, TBitmap& bitmap)
{
    const TPsdSections s = ReadSections(bytes);
    if (!HasRealComposite(s.Resources))
        ThrowUnsupported("saved without its composite image; save it again with Maximize Compatibility on");
    if (s.Mode == TPsdColorMode::Indexed && s.ColorModeData.size() < 768)
        ThrowInvalidPsd("an indexed picture without its palette");
    const size_t width = size_t(s.Width);
    const size_t rowBytes = s.Depth == 1 ? (width + 7) / 8 : width * size_t(s.Depth / 8);
    const TCompositeRows rows(s, rowBytes);
    const int planes = ColorPlanes(s.Mode);
    // Big-endian 16-bit samples: the high byte comes first.
    const size_t step = s.Depth == 16 ? 2 : 1;
    const uint8_t* palette = s.ColorModeData.data();

    TBitmap result;
    result.SetPixelFormat(TPixelFormat::pf24bit);
    result.SetSizeForOverwrite(s.Width, s.Height);
    std::vector<uint8_t> planeRows(size_t(planes) * rowBytes);
    for (int y = 0; y < s.Height; ++y) {
        for (int p = 0; p < planes; ++p)
            rows.Row(size_t(p), size_t(y), planeRows.data() + size_t(p) * rowBytes);
        const uint8_t* p0 = planeRows.data();
        const uint8_t* p1 = p0 + rowBytes;
        const uint8_t* p2 = p1 + rowBytes;
        const uint8_t* p3 = p2 + rowBytes;
        uint8_t* out = result.ScanLine(y);
        for (size_t x = 0; x < width; ++x, out += 3) {
            const size_t i = x * step;
            switch (s.Mode) {
            case TPsdColorMode::Bitmap: {
                // A set bit is black.
                const uint8_t grey = (p0[x / 8] >> (7 - x % 8) & 1) ? 0 : 255;
                out[0] = out[1] = out[2] = grey;
                break;
            }
            case TPsdColorMode::Grayscale:
                out[0] = out[1] = out[2] = p0[i];
                break;
            case TPsdColorMode::Indexed:
                out[0] = palette[512 + p0[i]];
                out[1] = palette[256 + p0[i]];
                out[2] = palette[p0[i]];
                break;
            case TPsdColorMode::Rgb:
                out[0] = p2[i];
                out[1] = p1[i];
                out[2] = p0[i];
                break;
            default: {
                // CMYK is stored inverted: 255 is no ink.
                const unsigned k = p3[i];
                out[0] = static_cast<uint8_t>((p2[i] * k + 127) / 255);
                out[1] = static_cast<uint8_t>((p1[i] * k + 127) / 255);
                out[2] = static_cast<uint8_t>((p0[i] * k + 127) / 255);
                break;
            }
            }
        }
    }
    bitmap.Assign(result);
}

void LoadPsdBitmap(TStream& stream, TBitmap& bitmap)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(stream.Remaining()));
    stream.ReadBuffer(bytes.data(), bytes.size());
    ReadPsdComposite(bytes, bitmap);
}

} // namespace sw
