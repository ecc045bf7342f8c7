// The PSD reader beside psd-tools (Debian's python3-psd-tools) on every PSD
// file of the third-party corpus: composite pixels, guides, and the layer
// records (rectangle, name, group, eye, text). Prints the agreement counts.
//
// Where the two differ by design the peer's side is brought to our rule in
// psd_peer.py: a transparent composite psd-tools un-mattes is put back over
// white, and CMYK goes to RGB by (255 - C) x (255 - K) / 255.

#include "core/base/errors.h"
#include "core/imaging/psd/psd_reader.h"
#include "support/temp_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace sw {
namespace {

namespace fs = std::filesystem;

const fs::path kScript = fs::path(SLICEWRIGHT_SOURCE_DIR) / "tests/core/imaging/psd/psd_peer.py";

struct TPeerLayer {
    bool IsGroup = false;
    bool Visible = false;
    bool Shown = false;
    int Parent = -1;
    TRect Bounds;
    std::string Name;
    bool IsText = false;
    std::string Text;
};

struct TPeerFile {
    std::string Path;
    std::string Error;
    int Width = 0;
    int Height = 0;
    int Composite = -1;
    std::vector<TDesignGuide> Guides;
    std::vector<TDesignSlice> Slices;
    std::vector<TPeerLayer> Layers;
};

std::string Quoted(const std::string& text)
{
    std::string out = "'";
    for (const char c : text)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::string FromHex(const std::string& hex)
{
    std::string out;
    if (hex == "-")
        return out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// The interpreter that has psd-tools: Debian's own first, since a python3
// earlier on the PATH may not see Debian's packages.
std::string FindPython()
{
    for (const char* candidate : { "/usr/bin/python3", "python3" }) {
        const std::string command
            = std::string(candidate) + " " + Quoted(kScript.string()) + " --check >/dev/null 2>&1";
        if (std::system(command.c_str()) == 0)
            return candidate;
    }
    return std::string();
}

std::vector<TPeerFile> ReadReport(const fs::path& report)
{
    std::vector<TPeerFile> files;
    std::ifstream in(report);
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string tag;
        fields >> tag;
        if (tag == "file") {
            files.emplace_back().Path = line.substr(5);
        } else if (tag == "error") {
            files.back().Error = line.size() > 6 ? line.substr(6) : "(no message)";
        } else if (tag == "size") {
            fields >> files.back().Width >> files.back().Height;
        } else if (tag == "composite") {
            std::string number;
            fields >> number;
            if (number != "none")
                files.back().Composite = std::stoi(number);
        } else if (tag == "guide") {
            TDesignGuide guide;
            std::string axis;
            fields >> guide.Position32 >> axis;
            guide.Horizontal = axis == "h";
            files.back().Guides.push_back(guide);
        } else if (tag == "slice") {
            TDesignSlice slice;
            int origin = 0;
            std::string name;
            std::string url;
            std::string alt;
            fields >> slice.Id >> origin >> slice.Bounds.Left >> slice.Bounds.Top >> slice.Bounds.Right
                >> slice.Bounds.Bottom >> name >> url >> alt;
            slice.Origin = static_cast<TDesignSlice::TOrigin>(origin);
            slice.Name = FromHex(name);
            slice.Url = FromHex(url);
            slice.Alt = FromHex(alt);
            files.back().Slices.push_back(slice);
        } else if (tag == "layer") {
            TPeerLayer layer;
            std::string name;
            std::string text;
            fields >> layer.IsGroup >> layer.Visible >> layer.Shown >> layer.Parent >> layer.Bounds.Left
                >> layer.Bounds.Top >> layer.Bounds.Right >> layer.Bounds.Bottom >> name >> text;
            layer.Name = FromHex(name);
            layer.IsText = text != "-";
            layer.Text = FromHex(text);
            files.back().Layers.push_back(layer);
        }
    }
    return files;
}

// "" when they agree, else what differs first.
std::string CompareComposite(const TBitmap& ours, const std::string& peer)
{
    const size_t width = size_t(ours.Width());
    if (peer.size() != width * size_t(ours.Height()) * 3)
        return "peer composite of another size";
    for (int y = 0; y < ours.Height(); ++y) {
        const uint8_t* row = ours.ScanLine(y);
        for (size_t x = 0; x < width; ++x) {
            const size_t at = (size_t(y) * width + x) * 3;
            if (row[3 * x + 2] != uint8_t(peer[at]) || row[3 * x + 1] != uint8_t(peer[at + 1])
                || row[3 * x] != uint8_t(peer[at + 2]))
                return "pixel " + std::to_string(x) + "," + std::to_string(y);
        }
    }
    return std::string();
}

std::string CompareLayers(const std::vector<TDesignLayer>& ours, const std::vector<TPeerLayer>& peer)
{
    if (ours.size() != peer.size())
        return std::to_string(ours.size()) + " layers, peer " + std::to_string(peer.size());
    for (size_t i = 0; i < ours.size(); ++i) {
        const TDesignLayer& a = ours[i];
        const TPeerLayer& b = peer[i];
        if (a.Bounds != b.Bounds)
            return "layer " + std::to_string(i) + " rectangle";
        if (a.Name != b.Name)
            return "layer " + std::to_string(i) + " name '" + a.Name + "', peer '" + b.Name + "'";
        if (a.IsGroup != b.IsGroup || a.Visible != b.Visible || a.Shown != b.Shown || a.Parent != b.Parent)
            return "layer " + std::to_string(i) + " group, eye or parent";
        if (a.IsText != b.IsText || a.Text != b.Text)
            return "layer " + std::to_string(i) + " text";
    }
    return std::string();
}

std::string CompareSlices(const std::vector<TDesignSlice>& ours, const std::vector<TDesignSlice>& peer)
{
    if (ours.size() != peer.size())
        return std::to_string(ours.size()) + " slices, peer " + std::to_string(peer.size());
    for (size_t i = 0; i < ours.size(); ++i) {
        const TDesignSlice& a = ours[i];
        const TDesignSlice& b = peer[i];
        if (a.Id != b.Id || a.Origin != b.Origin || a.Bounds != b.Bounds || a.Name != b.Name || a.Url != b.Url
            || a.Alt != b.Alt)
            return "slice " + std::to_string(i);
    }
    return std::string();
}

TEST(PsdPeer, AgreesWithPsdToolsOnTheCorpus)
{
    const fs::path corpus = fs::path(SLICEWRIGHT_CORPUS_DIR) / "psd-tools";
    if (!fs::is_directory(corpus))
        GTEST_SKIP() << "the PSD corpus is absent: " << corpus;
    const std::string python = FindPython();
    if (python.empty())
        GTEST_SKIP() << "psd-tools is not installed (Debian package python3-psd-tools)";

    std::vector<std::string> paths;
    for (const auto& entry : fs::recursive_directory_iterator(corpus)) {
        if (entry.is_regular_file() && entry.path().extension() == ".psd")
            paths.push_back(entry.path().string());
    }
    std::sort(paths.begin(), paths.end());
    test::TempFolder out;
    std::string command = python + " " + Quoted(kScript.string()) + " " + Quoted(out.Path().string());
    for (const std::string& path : paths)
        command += " " + Quoted(path);
    ASSERT_EQ(std::system(command.c_str()), 0) << "psd_peer.py failed";
    const std::vector<TPeerFile> peers = ReadReport(out.Path() / "report.txt");
    ASSERT_EQ(peers.size(), paths.size());

    int bothRead = 0, peerRefused = 0, weRefuseUnsupported = 0, withoutComposite = 0;
    int composites = 0, compositesAgree = 0, guideFiles = 0, guidesAgree = 0, sliceFiles = 0, slicesAgree = 0,
        layerFiles = 0, layersAgree = 0;
    int layers = 0, textLayers = 0;
    for (const TPeerFile& peer : peers) {
        SCOPED_TRACE(peer.Path);
        const std::string name = fs::path(peer.Path).lexically_relative(corpus).string();
        const std::string bytes = test::ReadFileBytes(peer.Path);
        const std::span<const uint8_t> data(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        TLayeredDesign design;
        TBitmap composite;
        std::string ourError;
        std::string compositeError;
        try {
            design = ReadPsdDesign(data);
            ReadPsdComposite(data, composite);
        } catch (const EInvalidGraphic& e) {
            (design.Width == 0 ? ourError : compositeError) = e.what();
        }
        if (!peer.Error.empty()) {
            ++peerRefused;
            const std::string ours = !ourError.empty() ? ourError
                : !compositeError.empty()              ? "composite: " + compositeError
                                                       : "read";
            std::printf(
                "  psd-tools refuses %s (%s); ours: %s\n", name.c_str(), peer.Error.c_str(), ours.c_str());
            continue;
        }
        if (!ourError.empty()) {
            // Only what the reader documents as unsupported may be refused.
            EXPECT_NE(ourError.find("PSD image is not supported ("), std::string::npos) << ourError;
            ++weRefuseUnsupported;
            continue;
        }
        ++bothRead;
        EXPECT_EQ(design.Width, peer.Width);
        EXPECT_EQ(design.Height, peer.Height);
        if (peer.Composite < 0) {
            // psd-tools has no composite when the file stores a blank one.
            ++withoutComposite;
            EXPECT_FALSE(design.HasComposite);
            EXPECT_NE(compositeError.find("saved without its composite"), std::string::npos)
                << compositeError;
        } else {
            EXPECT_EQ(compositeError, "");
            ++composites;
            const std::string difference = CompareComposite(
                composite, test::ReadFileBytes(out / (std::to_string(peer.Composite) + ".rgb")));
            compositesAgree += difference.empty();
            EXPECT_EQ(difference, "") << "composite";
        }
        if (!peer.Guides.empty() || !design.Guides.empty()) {
            ++guideFiles;
            std::vector<TDesignGuide> ours = design.Guides;
            for (TDesignGuide& guide : ours)
                guide.Position = 0;
            guidesAgree += ours == peer.Guides;
            EXPECT_EQ(ours, peer.Guides) << "guides";
        }
        if (!peer.Slices.empty() || !design.Slices.empty()) {
            ++sliceFiles;
            const std::string difference = CompareSlices(design.Slices, peer.Slices);
            slicesAgree += difference.empty();
            EXPECT_EQ(difference, "") << "slices";
        }
        if (!peer.Layers.empty() || !design.Layers.empty()) {
            ++layerFiles;
            layers += static_cast<int>(peer.Layers.size());
            textLayers += static_cast<int>(std::count_if(
                peer.Layers.begin(), peer.Layers.end(), [](const TPeerLayer& l) { return l.IsText; }));
            const std::string difference = CompareLayers(design.Layers, peer.Layers);
            layersAgree += difference.empty();
            EXPECT_EQ(difference, "") << "layers";
        }
    }
    std::printf("PSD files %zu: both read %d, psd-tools refuses %d, we refuse as unsupported %d\n",
        peers.size(), bothRead, peerRefused, weRefuseUnsupported);
    std::printf("saved without a composite (psd-tools has none, we refuse): %d\n", withoutComposite);
    std::printf("composite pixels agree in %d of %d files; guides in %d of %d; slices in %d of %d; layer "
                "records (%d layers, %d of them "
                "text) in %d of %d\n",
        compositesAgree, composites, guidesAgree, guideFiles, slicesAgree, sliceFiles, layers, textLayers,
        layersAgree, layerFiles);
}

} // namespace
} // namespace sw
