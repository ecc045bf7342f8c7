#pragma once

// The file kind of a cell and the settings it is written with. Every cell
// carries a TCellFormat of its own; the run's is the default.

#include "core/imaging/avif/avif_writer.h"
#include "core/imaging/palette/palette.h"
#include "core/project/project_file.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sw {

// Gif, Jpg and Jpeg keep their places: they are the Generate dialog's
// choice indices.
enum class TImageType {
    Gif, // the web-cube GIF
    Jpg,
    Jpeg,
    GifAdaptive, // a palette made for the cell
    Png8, // the same palette as PNG, with a tRNS entry
    Png, // truecolour, lossless
    Webp, // lossy
    WebpLossless,
    Auto, // the smallest file that keeps the cell good, chosen per cell
    Avif, // lossy
    AvifLossless,
};

enum class TChromaSubsampling {
    Half, // 4:2:0, the encoder's default
    Full, // 4:4:4, sharper coloured text
};

struct TCellFormat {
    TImageType Type = TImageType::Gif;
    int Colors = kMaxPaletteColors; // gif-adaptive, png8
    TDither Dither = TDither::None; // gif-adaptive, png8
    int Quality = 90; // jpg, jpeg, webp; auto searches its own
    bool Progressive = false; // jpg, jpeg
    TChromaSubsampling Subsampling = TChromaSubsampling::Half; // jpg, jpeg
    double MinPsnr = 40.0; // auto: the floor a lossy file must reach, in dB
    // png, webp and auto cells keep the picture's own alpha when it has one.
    bool KeepAlpha = false;
    int AvifSpeed = kDefaultAvifSpeed; // avif, avif-lossless: 0 slowest to 10
    // auto: lossy files must also look the same, by a butteraugli distance
    // of at most this; none checks PSNR alone.
    std::optional<double> MinScore {};
    bool AutoAvif = false; // auto: lossy AVIF among the candidates
    // auto: only formats every mail client shows (IsMailSafe); set for
    // every cell of an e-mail page, and AutoAvif is then ignored.
    bool MailSafe = false;
};

// Whether every common mail client shows a file of this type: gif,
// gif-adaptive, png8, png, jpg and jpeg; WebP and AVIF are missing from
// Outlook for Windows and others.
bool IsMailSafe(TImageType type);

// "gif", "gif-adaptive", "png8", "png", "jpg", "jpeg", "webp",
// "webp-lossless", "auto", "avif", "avif-lossless".
std::string ImageTypeName(TImageType type);
// The type of such a name; empty for any other text.
std::optional<TImageType> ImageTypeOfName(std::string_view name);

// The meaning of each output setting (TOutputValues), as a project's
// [Output] section stores them and as the command line gives them: the
// keys that set a cell's format. They and the run's keys (RunKeys) come
// from one table; OutputSectionKeyNames lists all of them.

struct TOutputKey {
    const char* Key;
    // What a value must be, for messages: "a whole number from 2 to 256".
    const char* Expects;
    // False, with format unchanged, when the text is not such a value.
    bool (*Apply)(TCellFormat& format, std::string_view text);
};
const std::vector<TOutputKey>& OutputKeys();
// Every [Output] key, format's and run's, in the order a project writes them.
std::vector<std::string> OutputSectionKeyNames();
// The key's row, or nullptr; keys match without regard to ASCII case.
const TOutputKey* FindOutputKey(std::string_view key);

// base with every value applied. A value that is not what its key expects
// fails with Exception "WHERE: KEY expects EXPECTS, not 'TEXT'"; unknown
// keys are left alone so that newer files still read.
TCellFormat CellFormatOf(const TOutputValues& values, const std::string& where, TCellFormat base = {});

} // namespace sw
