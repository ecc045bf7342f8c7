#include "core/imaging/ora/ora_reader.h"

#include "core/base/errors.h"
#include "core/imaging/ora/ora_xml.h"
#include "core/imaging/png/png_reader.h"

#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace sw {

namespace {

constexpr uint64_t kMaxEntryBytes = uint64_t(256) << 20;
// stack.xml of a design with thousands of layers is a few hundred kilobytes.
constexpr uint64_t kMaxStackBytes = uint64_t(4) << 20;
constexpr size_t kChunk = size_t(64) << 10;

[[noreturn]] void Invalid(const std::string& reason)
{
    throw EInvalidGraphic("OpenRaster image is not valid (" + reason + ")");
}

struct TArchiveClose {
    void operator()(zip_t* archive) const { zip_discard(archive); }
};
struct TFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};

class TOraArchive {
public:
    explicit TOraArchive(std::span<const uint8_t> bytes)
    {
        zip_error_t error;
        zip_error_init(&error);
        zip_source_t* source = zip_source_buffer_create(bytes.data(), bytes.size(), 0, &error);
        if (!source)
            throw EOutOfResources("Out of memory");
        m_archive.reset(zip_open_from_source(source, ZIP_RDONLY, &error));
        if (!m_archive) {
            zip_source_free(source);
            const std::string reason = zip_error_strerror(&error);
            zip_error_fini(&error);
            Invalid("not a zip archive: " + reason);
        }
        zip_error_fini(&error);
    }

    bool Has(const char* name) const { return zip_name_locate(m_archive.get(), name, 0) >= 0; }

    // The entry's bytes, at most limit of them (more is an error), or only
    // the first count when count is given; read in chunks so that memory
    // follows what the entry really holds, not what its header claims.
    std::string Read(const std::string& name, uint64_t limit, size_t count = 0) const
    {
        const zip_int64_t index = zip_name_locate(m_archive.get(), name.c_str(), 0);
        if (index < 0)
            Invalid("no " + name + " in the archive");
        std::unique_ptr<zip_file_t, TFileClose> file(
            zip_fopen_index(m_archive.get(), zip_uint64_t(index), 0));
        if (!file)
            Invalid(name + ": " + zip_strerror(m_archive.get()));
        std::string out;
        for (;;) {
            const size_t want = count ? count - out.size() : kChunk;
            if (want == 0)
                break;
            const size_t start = out.size();
            out.resize(start + want);
            const zip_int64_t got = zip_fread(file.get(), out.data() + start, want);
            if (got < 0)
                Invalid(name + ": " + zip_file_strerror(file.get()));
            out.resize(start + size_t(got));
            if (got == 0)
                break;
            if (out.size() > limit)
                Invalid(name + " is larger than " + std::to_string(limit >> 20) + " MB");
        }
        return out;
    }

private:
    std::unique_ptr<zip_t, TArchiveClose> m_archive;
};

int IntegerAttribute(const TXmlElement& element, const char* name)
{
    const std::string* text = element.Attribute(name);
    if (!text || text->empty())
        return 0;
    int value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size())
        Invalid("stack.xml: " + std::string(name) + "=\"" + *text + "\" is not a whole number");
    return value;
}

int OpacityAttribute(const TXmlElement& element)
{
    const std::string* text = element.Attribute("opacity");
    if (!text)
        return 255;
    double value = 0;
    const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), value);
    if (error != std::errc() || end != text->data() + text->size() || !std::isfinite(value))
        Invalid("stack.xml: opacity=\"" + *text + "\" is not a number");
    return static_cast<int>(std::lround(std::clamp(value, 0.0, 1.0) * 255));
}

// Width and height from a PNG's header, without decoding it.
TRect PngRect(const TOraArchive& archive, const std::string& name, int x, int y)
{
    const std::string head = archive.Read(name, 24, 24);
    const std::span<const uint8_t> bytes(reinterpret_cast<const uint8_t*>(head.data()), head.size());
    if (head.size() < 24 || !IsPngSignature(bytes))
        Invalid(name + " is not a PNG file");
    const auto u32 = [&](size_t at) {
        return int64_t(bytes[at]) << 24 | int64_t(bytes[at + 1]) << 16 | int64_t(bytes[at + 2]) << 8
            | bytes[at + 3];
    };
    const int64_t width = u32(16);
    const int64_t height = u32(20);
    if (width > INT32_MAX - int64_t(x) || height > INT32_MAX - int64_t(y))
        Invalid(name + " reaches past the largest position");
    return TRect { x, y, static_cast<int>(x + width), static_cast<int>(y + height) };
}

// Children of a stack come top first; the record wants bottom first, each
// group before its own layers.
void AddStack(const TOraArchive& archive, const TXmlElement& stack, int parent, TLayeredDesign& design)
{
    for (auto it = stack.Children.rbegin(); it != stack.Children.rend(); ++it) {
        const TXmlElement& child = *it;
        if (child.Name != "layer" && child.Name != "stack")
            continue;
        TDesignLayer layer;
        if (const std::string* name = child.Attribute("name"))
            layer.Name = *name;
        const std::string* visibility = child.Attribute("visibility");
        layer.Visible = !visibility || *visibility != "hidden";
        layer.Opacity = OpacityAttribute(child);
        layer.Parent = parent;
        layer.Shown = layer.Visible && (parent < 0 || design.Layers[size_t(parent)].Shown);
        const int x = IntegerAttribute(child, "x");
        const int y = IntegerAttribute(child, "y");
        if (child.Name == "stack") {
            layer.IsGroup = true;
            const int index = static_cast<int>(design.Layers.size());
            design.Layers.push_back(std::move(layer));
            AddStack(archive, child, index, design);
            continue;
        }
        const std::string* source = child.Attribute("src");
        if (source && !source->empty())
            layer.Bounds = PngRect(archive, *source, x, y);
        design.Layers.push_back(std::move(layer));
    }
}

} // namespace

TLayeredDesign ReadOraDesign(std::span<const uint8_t> bytes)
{
    const TOraArchive archive(bytes);
    if (archive.Has("mimetype") && archive.Read("mimetype", 64) != "image/openraster")
        Invalid("its mimetype is not image/openraster");
    const TXmlElement image = ReadXml(archive.Read("stack.xml", kMaxStackBytes));
    if (image.Name != "image")
        Invalid("stack.xml: the root element is not <image>");
    TLayeredDesign design;
    design.Width = IntegerAttribute(image, "w");
    design.Height = IntegerAttribute(image, "h");
    if (design.Width <= 0 || design.Height <= 0)
        Invalid("stack.xml: no picture size");
    design.HasComposite = archive.Has("mergedimage.png");
    for (const TXmlElement& child : image.Children) {
        if (child.Name == "stack") {
            AddStack(archive, child, -1, design);
            break;
        }
    }
    return design;
}

void ReadOraComposite(std::span<const uint8_t> bytes, TBitmap& bitmap)
{
    const TOraArchive archive(bytes);
    if (!archive.Has("mergedimage.png"))
        throw EInvalidGraphic(
            "OpenRaster image is not supported (saved without mergedimage.png, the flattened "
            "design)");
    const std::string png = archive.Read("mergedimage.png", kMaxEntryBytes);
    PngToBitmap(ReadPng({ reinterpret_cast<const uint8_t*>(png.data()), png.size() }), bitmap);
}

void LoadOraBitmap(TStream& stream, TBitmap& bitmap)
{
    std::vector<uint8_t> bytes(static_cast<size_t>(stream.Remaining()));
    stream.ReadBuffer(bytes.data(), bytes.size());
    ReadOraComposite(bytes, bitmap);
}

} // namespace sw
