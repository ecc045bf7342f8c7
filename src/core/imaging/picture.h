#pragma once

// The picture container that holds one graphic of any kind, the format
// registry that picks a kind by file extension, and the image holder.

#include "core/base/pixel_limit.h"
#include "core/imaging/graphic.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sw {

class TBitmap;

// The one refusal of a picture file that holds no pixels (a screen without
// an image, a 0-byte bitmap), whatever its kind; %s is the file's name.
inline constexpr char kNoPixelsMessage[] = "Picture holds no pixels (%s)";

using TGraphicFactory = std::function<std::unique_ptr<TGraphic>()>;

// The size a file's header states, read without decoding a pixel; nullopt
// when the header cannot be read (loading the file then says why).
using TSizeReader = std::function<std::optional<TPictureSize>(std::span<const uint8_t> file)>;

// The ordered list of registered kinds. Built-in: "bmp" (Bitmaps). The JPEG
// and GIF modules add theirs through RegisterFileFormat at start-up; the
// lookup runs from the last entry to the first.
struct TFileFormat {
    std::string Extension; // lower case, without the dot
    std::string Description;
    TGraphicFactory Create;
    TSizeReader ReadSize; // may be empty
};

class TPicture {
public:
    TPicture() = default;
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    TGraphic* Graphic() const { return m_graphic.get(); }
    void SetGraphic(std::unique_ptr<TGraphic> graphic);
    // The held bitmap; when the held graphic is not a bitmap (or none is
    // held) it is discarded and replaced by a new empty bitmap.
    TBitmap& Bitmap();
    int Width() const;
    int Height() const;

    // Picks the kind by the name's extension ("Unknown picture file
    // extension (.%s)"); a file that holds no pixels is refused with
    // kNoPixelsMessage. On any failure the container keeps what it held.
    // A vector design is drawn as render says.
    void LoadFromFile(const std::string& fileName, const TRenderOptions& render = {});
    // The held graphic's read warnings, each as "FILE: text" with the name
    // it was loaded from; complete once a bitmap has been made of it.
    std::vector<std::string> Warnings() const;
    // Hands the name to the held graphic; nothing happens when none is held.
    void SaveToFile(const std::string& fileName);

    static void RegisterFileFormat(const std::string& extension, const std::string& description,
        TGraphicFactory factory, TSizeReader readSize = {});
    static const std::vector<TFileFormat>& FileFormats();
    // The factory for an extension (without dot, any case), or nullptr.
    static const TFileFormat* FindFileFormat(const std::string& extension);
    // The size the file's header states, picked by extension as
    // LoadFromFile picks the kind; nullopt when its kind has no size reader
    // or the header cannot be read. Lets a caller refuse a picture too
    // large for what it will write before decoding it.
    static std::optional<TPictureSize> HeaderSize(const std::string& fileName);

    std::function<void()> OnChange;

private:
    void Changed();
    std::unique_ptr<TGraphic> m_graphic;
    std::string m_fileName;
};

// A control that owns a picture container. Starts at 105 x 105; with
// AutoSize it takes its picture's size whenever the picture changes, but
// only when both dimensions are above 0.
class TImage {
public:
    TImage();
    TImage(const TImage&) = delete;
    TImage& operator=(const TImage&) = delete;

    TPicture& Picture() { return m_picture; }
    const TPicture& Picture() const { return m_picture; }
    bool AutoSize() const { return m_autoSize; }
    void SetAutoSize(bool value);
    int Width() const { return m_width; }
    int Height() const { return m_height; }
    void SetBounds(int width, int height);

    // A bitmap canvas: a white bitmap of the holder's size is made when the
    // picture is empty; "Can only modify an image if it contains a bitmap"
    // when it holds another kind.
    TCanvas& Canvas();

    std::function<void()> OnChange;

private:
    void PictureChanged();
    TPicture m_picture;
    bool m_autoSize = false;
    int m_width = 105;
    int m_height = 105;
};

} // namespace sw
