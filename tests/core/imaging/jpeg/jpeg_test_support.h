#pragma once

// Helpers shared by the JPEG tests: test pictures, a reader of the markers a
// JPEG file carries, PNM files for the library's own command-line tools.

#include "core/base/stream.h"
#include "core/imaging/bitmap.h"
#include "core/imaging/jpeg/jpeg_image.h"
#include "support/imaging_fixtures.h"
#include "support/temp_folder.h"

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace sw::test {

// A 24-bit picture with smooth gradients and hard edges, so that every
// stage of the codec has work to do.
inline TBitmap MakePicture(int width, int height)
{
    return MakeBitmap24With(width, height, [&](int x, int y) {
        const bool square = ((x / 7) + (y / 5)) % 3 == 0;
        return RGB(static_cast<uint8_t>(square ? 220 : ((x + y) * 3) & 0xFF),
            static_cast<uint8_t>((y * 255) / std::max(1, height - 1)),
            static_cast<uint8_t>(square ? 30 : (x * 255) / std::max(1, width - 1)));
    });
}

inline std::vector<uint8_t> SaveBytes(TGraphic& graphic)
{
    TMemoryStream stream;
    graphic.SaveToStream(stream);
    return stream.Bytes();
}

inline std::vector<uint8_t> EncodeBitmap(const TBitmap& bitmap)
{
    TJPEGImage image;
    image.Assign(bitmap);
    return SaveBytes(image);
}

inline TBitmap DecodeBytes(const std::vector<uint8_t>& bytes)
{
    TJPEGImage image;
    TMemoryStream stream(bytes);
    image.LoadFromStream(stream);
    TBitmap bitmap;
    bitmap.Assign(image);
    return bitmap;
}

inline std::vector<uint8_t> ReadFile(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteFile(const std::filesystem::path& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// What the markers before the first scan say.
struct JpegMarkers {
    bool Jfif = false;
    int DensityUnit = -1;
    int XDensity = -1;
    int YDensity = -1;
    int FrameMarker = -1; // 0xC0 baseline, 0xC2 progressive, ...
    struct Component {
        int Id;
        int H;
        int V;
        int Table;
    };
    std::vector<Component> Components;
    // Tables in natural (row by row) order.
    std::map<int, std::array<int, 64>> QuantTables;
    int Scans = 0;
};

inline constexpr std::array<int, 64> kZigZag = { 0, 1, 8, 16, 9, 2, 3, 10, 17, 24, 32, 25, 18, 11, 4, 5, 12,
    19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6, 7, 14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63 };

// Walks the marker segments; counts start-of-scan markers by skipping the
// entropy-coded data between them.
inline JpegMarkers ParseMarkers(const std::vector<uint8_t>& d)
{
    JpegMarkers m;
    size_t i = 2;
    while (i + 4 <= d.size()) {
        if (d[i] != 0xFF)
            break;
        const int marker = d[i + 1];
        if (marker == 0xD9)
            break;
        const size_t length = size_t(d[i + 2]) << 8 | d[i + 3];
        const size_t body = i + 4;
        if (body + length - 2 > d.size())
            break;
        if (marker == 0xE0 && length >= 16
            && std::string(d.begin() + body, d.begin() + body + 5) == std::string("JFIF\0", 5)) {
            m.Jfif = true;
            m.DensityUnit = d[body + 7];
            m.XDensity = d[body + 8] << 8 | d[body + 9];
            m.YDensity = d[body + 10] << 8 | d[body + 11];
        } else if (marker == 0xDB) {
            for (size_t p = body; p < body + length - 2;) {
                const int precision = d[p] >> 4;
                std::array<int, 64> table {};
                for (int k = 0; k < 64; ++k)
                    table[kZigZag[k]] = precision ? (d[p + 1 + 2 * k] << 8 | d[p + 2 + 2 * k]) : d[p + 1 + k];
                m.QuantTables[d[p] & 15] = table;
                p += 1 + 64 * (precision ? 2 : 1);
            }
        } else if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            m.FrameMarker = marker;
            for (int c = 0; c < d[body + 5]; ++c) {
                const size_t p = body + 6 + 3 * c;
                m.Components.push_back({ d[p], d[p + 1] >> 4, d[p + 1] & 15, d[p + 2] });
            }
        } else if (marker == 0xDA) {
            ++m.Scans;
            i = body + length - 2;
            while (
                i + 1 < d.size() && !(d[i] == 0xFF && d[i + 1] != 0 && (d[i + 1] < 0xD0 || d[i + 1] > 0xD7)))
                ++i;
            continue;
        }
        i = body + length - 2;
    }
    return m;
}

// PNM pictures as the library's tools read and write them.
struct Pnm {
    int Width = 0;
    int Height = 0;
    int Channels = 0; // 1 grey, 3 red, green, blue
    std::vector<uint8_t> Pixels;
};

inline std::optional<Pnm> ReadPnm(const std::filesystem::path& path)
{
    const std::vector<uint8_t> d = ReadFile(path);
    if (d.size() < 2 || d[0] != 'P' || (d[1] != '5' && d[1] != '6'))
        return std::nullopt;
    Pnm pnm;
    pnm.Channels = d[1] == '6' ? 3 : 1;
    size_t i = 2;
    int fields[3] = {};
    for (int& field : fields) {
        while (i < d.size() && std::isspace(d[i]))
            ++i;
        while (i < d.size() && std::isdigit(d[i]))
            field = field * 10 + (d[i++] - '0');
    }
    ++i;
    pnm.Width = fields[0];
    pnm.Height = fields[1];
    const size_t size = size_t(pnm.Width) * size_t(pnm.Height) * size_t(pnm.Channels);
    if (fields[2] != 255 || i + size > d.size())
        return std::nullopt;
    pnm.Pixels.assign(d.begin() + static_cast<ptrdiff_t>(i), d.begin() + static_cast<ptrdiff_t>(i + size));
    return pnm;
}

inline void WritePpm(const std::filesystem::path& path, const TBitmap& bitmap)
{
    std::ofstream out(path, std::ios::binary);
    out << "P6\n" << bitmap.Width() << ' ' << bitmap.Height() << "\n255\n";
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            const char rgb[3] = { char(row[3 * x + 2]), char(row[3 * x + 1]), char(row[3 * x]) };
            out.write(rgb, 3);
        }
    }
}

// The decoded bitmap as red, green, blue (or grey) bytes, to compare with
// a PNM from the library's tools.
inline std::vector<uint8_t> BitmapPixels(const TBitmap& bitmap, int channels)
{
    std::vector<uint8_t> out;
    out.reserve(size_t(bitmap.Width()) * size_t(bitmap.Height()) * size_t(channels));
    const std::vector<TRGBQuad>& table = bitmap.ColorTable();
    for (int y = 0; y < bitmap.Height(); ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < bitmap.Width(); ++x) {
            TRGBQuad q;
            if (bitmap.BitsPerPixel() == 8)
                q = row[x] < table.size() ? table[row[x]] : TRGBQuad { 1, 2, 3, 0 };
            else
                q = TRGBQuad { row[3 * x], row[3 * x + 1], row[3 * x + 2], 0 };
            if (channels == 1) {
                out.push_back(q.Red);
            } else {
                out.push_back(q.Red);
                out.push_back(q.Green);
                out.push_back(q.Blue);
            }
        }
    }
    return out;
}

inline bool ToolAvailable(const char* name)
{
    const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

} // namespace sw::test
