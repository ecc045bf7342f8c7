#include "core/text/cell_text.h"

#include "core/base/thread_pool.h"

#include <tesseract/baseapi.h>
#include <tesseract/resultiterator.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstring>
#include <iterator>
#include <optional>

namespace sw {

namespace {

// Screen text is 10 to 16 pixels high; the engine reads best at about
// three times that.
constexpr double kSmallTextScale = 3.0;
// A grey range narrower than this is a flat or nearly flat panel.
constexpr int kMinContrast = 40;
// Each cell is read several ways and the words merged: scattered words
// with a global and with a tiled threshold (text on a highlight or a
// photo), then as one block, which keeps short lone words such as prices
// that the scattered reading drops as noise.
struct TReading {
    tesseract::PageSegMode Layout;
    const char* Threshold; // Otsu over the cell, Otsu per tile
};
constexpr TReading kReadings[] = {
    { tesseract::PSM_SPARSE_TEXT, "0" },
    { tesseract::PSM_SPARSE_TEXT, "1" },
    { tesseract::PSM_SINGLE_BLOCK, "0" },
};
// White around the text: the engine misses words that touch the edge.
constexpr int kMargin = 12;

bool IsWordCharacter(unsigned char c)
{
    // Bytes of multi-byte UTF-8 count: accented letters are letters.
    return std::isalnum(c) || c >= 0x80;
}

int WordCharacters(const std::string& word)
{
    return static_cast<int>(std::count_if(word.begin(), word.end(), IsWordCharacter));
}

uint8_t GreyAt(const TPixelView& picture, int x, int y)
{
    const uint8_t* p = picture.Row(y) + ptrdiff_t(x) * picture.BytesPerPixel();
    int r = 0;
    int g = 0;
    int b = 0;
    if (picture.Layout == TPixelLayout::Bgr24) {
        b = p[0];
        g = p[1];
        r = p[2];
    } else {
        // Over white, as a page shows it by default.
        const int a = p[3];
        r = (p[0] * a + 255 * (255 - a)) / 255;
        g = (p[1] * a + 255 * (255 - a)) / 255;
        b = (p[2] * a + 255 * (255 - a)) / 255;
    }
    return static_cast<uint8_t>((r * 299 + g * 587 + b * 114 + 500) / 1000);
}

// Bilinear resampling of one grey plane; sample centres line up.
std::vector<uint8_t> Resample(
    const std::vector<uint8_t>& grey, int width, int height, int outWidth, int outHeight)
{
    std::vector<uint8_t> out(size_t(outWidth) * size_t(outHeight));
    const double sx = double(width) / outWidth;
    const double sy = double(height) / outHeight;
    for (int y = 0; y < outHeight; ++y) {
        const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, double(height - 1));
        const int y0 = static_cast<int>(fy);
        const int y1 = std::min(y0 + 1, height - 1);
        const double wy = fy - y0;
        for (int x = 0; x < outWidth; ++x) {
            const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, double(width - 1));
            const int x0 = static_cast<int>(fx);
            const int x1 = std::min(x0 + 1, width - 1);
            const double wx = fx - x0;
            const auto at
                = [&](int px, int py) { return double(grey[size_t(py) * size_t(width) + size_t(px)]); };
            const double top = at(x0, y0) * (1 - wx) + at(x1, y0) * wx;
            const double bottom = at(x0, y1) * (1 - wx) + at(x1, y1) * wx;
            out[size_t(y) * size_t(outWidth) + size_t(x)]
                = static_cast<uint8_t>(std::lround(top * (1 - wy) + bottom * wy));
        }
    }
    return out;
}

} // namespace

std::string TCellText::Text() const
{
    std::string text;
    for (const TTextWord& word : Words) {
        if (!text.empty())
            text += ' ';
        text += word.Text;
    }
    return text;
}

int TCellText::Confidence() const
{
    if (Words.empty())
        return 0;
    int64_t sum = 0;
    for (const TTextWord& word : Words)
        sum += word.Confidence;
    return static_cast<int>(sum / int64_t(Words.size()));
}

bool TCellText::HoldsText() const
{
    return Confidence() >= kTextConfidence && std::any_of(Words.begin(), Words.end(), [](const TTextWord& w) {
        return WordCharacters(w.Text) >= 2;
    });
}

double ReadScale(int width, int height)
{
    const double area = double(std::max(width, 1)) * double(std::max(height, 1));
    return std::min(kSmallTextScale, std::sqrt(double(kMaxReadPixels) / area));
}

TReadImage PrepareForReading(const TPixelView& picture, const TCellBounds& bounds)
{
    const int width = bounds.Width();
    const int height = bounds.Height();
    if (width <= 0 || height <= 0)
        return {};
    std::vector<uint8_t> grey(size_t(width) * size_t(height));
    int histogram[256] = {};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const uint8_t value = GreyAt(picture, bounds.Left + x, bounds.Top + y);
            grey[size_t(y) * size_t(width) + size_t(x)] = value;
            ++histogram[value];
        }
    int lowest = 0;
    while (histogram[lowest] == 0)
        ++lowest;
    int highest = 255;
    while (histogram[highest] == 0)
        --highest;
    if (highest - lowest < kMinContrast)
        return {};
    // The ground is what most pixels are: a dark one means light text.
    int64_t seen = 0;
    int median = 0;
    while ((seen += histogram[median]) * 2 < int64_t(grey.size()))
        ++median;
    if (median < 128)
        for (uint8_t& value : grey)
            value = static_cast<uint8_t>(255 - value);

    const double scale = ReadScale(width, height);
    const int scaledWidth = std::max(1, static_cast<int>(std::lround(width * scale)));
    const int scaledHeight = std::max(1, static_cast<int>(std::lround(height * scale)));
    const std::vector<uint8_t> scaled = Resample(grey, width, height, scaledWidth, scaledHeight);

    TReadImage image;
    image.Width = scaledWidth + 2 * kMargin;
    image.Height = scaledHeight + 2 * kMargin;
    image.Grey.assign(size_t(image.Width) * size_t(image.Height), 255);
    for (int y = 0; y < scaledHeight; ++y)
        std::memcpy(&image.Grey[size_t(y + kMargin) * size_t(image.Width) + kMargin],
            &scaled[size_t(y) * size_t(scaledWidth)], size_t(scaledWidth));
    return image;
}

TTextReader::TTextReader()
    : m_engine(std::make_unique<tesseract::TessBaseAPI>())
{
    // Its own messages would land on the user's terminal.
    m_engine->SetVariable("debug_file", "/dev/null");
    if (m_engine->Init(nullptr, "eng", tesseract::OEM_LSTM_ONLY) != 0)
        throw ETextReaderError("Cannot start reading text: the English language data of Tesseract "
                               "(tesseract-ocr-eng) is not installed");
}

TTextReader::~TTextReader()
{
    m_engine->End();
}

namespace {

struct TPlacedWord {
    TTextWord Word;
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
};

bool Overlap(const TPlacedWord& a, const TPlacedWord& b)
{
    const int width = std::min(a.Right, b.Right) - std::max(a.Left, b.Left);
    const int height = std::min(a.Bottom, b.Bottom) - std::max(a.Top, b.Top);
    return width > 0 && height > 0;
}

} // namespace

TCellText TTextReader::Read(const TPixelView& picture, const TCellBounds& bounds)
{
    const TReadImage image = PrepareForReading(picture, bounds);
    TCellText result;
    if (image.Width == 0)
        return result;
    std::vector<TPlacedWord> found[std::size(kReadings)];
    for (size_t pass = 0; pass < std::size(kReadings); ++pass) {
        m_engine->SetPageSegMode(kReadings[pass].Layout);
        m_engine->SetVariable("thresholding_method", kReadings[pass].Threshold);
        m_engine->SetImage(image.Grey.data(), image.Width, image.Height, 1, image.Width);
        m_engine->SetSourceResolution(300);
        if (m_engine->Recognize(nullptr) != 0)
            continue;
        const std::unique_ptr<tesseract::ResultIterator> words(m_engine->GetIterator());
        if (words) {
            do {
                const std::unique_ptr<char[]> text(words->GetUTF8Text(tesseract::RIL_WORD));
                if (!text)
                    continue;
                TPlacedWord word { { text.get(),
                    static_cast<int>(std::lround(words->Confidence(tesseract::RIL_WORD))) } };
                words->BoundingBox(tesseract::RIL_WORD, &word.Left, &word.Top, &word.Right, &word.Bottom);
                if (word.Word.Confidence >= kWordConfidence && WordCharacters(word.Word.Text) > 0)
                    found[pass].push_back(std::move(word));
            } while (words->Next(tesseract::RIL_WORD));
        }
        m_engine->Clear();
    }
    // The first reading's words, and the others' where it found none.
    std::vector<TPlacedWord> kept;
    for (std::vector<TPlacedWord>& pass : found)
        for (TPlacedWord& word : pass)
            if (std::none_of(
                    kept.begin(), kept.end(), [&](const TPlacedWord& other) { return Overlap(word, other); }))
                kept.push_back(std::move(word));
    std::sort(
        kept.begin(), kept.end(), [](const TPlacedWord& a, const TPlacedWord& b) { return a.Top < b.Top; });
    // Reading order: a word whose middle lies below the bottom of a line's
    // first word starts the next line; each line left to right.
    std::vector<std::vector<TPlacedWord>> lines;
    int lineBottom = -1;
    for (TPlacedWord& word : kept) {
        if (lines.empty() || (word.Top + word.Bottom) / 2 > lineBottom) {
            lines.emplace_back();
            lineBottom = word.Bottom;
        }
        lines.back().push_back(std::move(word));
    }
    for (std::vector<TPlacedWord>& line : lines) {
        std::stable_sort(line.begin(), line.end(),
            [](const TPlacedWord& a, const TPlacedWord& b) { return a.Left < b.Left; });
        for (TPlacedWord& word : line)
            result.Words.push_back(std::move(word.Word));
    }
    return result;
}

TCellText TTextReaderPool::Read(const TPixelView& picture, const TCellBounds& bounds)
{
    std::unique_ptr<TTextReader> reader;
    {
        const std::lock_guard lock(m_lock);
        if (!m_free.empty()) {
            reader = std::move(m_free.back());
            m_free.pop_back();
        }
    }
    if (!reader)
        reader = std::make_unique<TTextReader>();
    TCellText text = reader->Read(picture, bounds);
    const std::lock_guard lock(m_lock);
    m_free.push_back(std::move(reader));
    return text;
}

const char* TextPropertyOf(const TCellProperties&)
{
    return "Alt";
}

std::vector<TTextProposal> ProposeCellTexts(const TPixelView& picture, const TCellGrid& grid,
    const TCellPropertyMap& cells, int threads, const std::function<bool(int done, int total)>& keepGoing)
{
    struct TTask {
        TCellRef Cell;
        TCellBounds Bounds;
        bool Linked = false;
        std::optional<TCellText> Text;
    };
    std::vector<TTask> tasks;
    for (int row = 1; row <= grid.Rows(); ++row)
        for (int column = 1; column <= grid.Columns(); ++column) {
            const TCellRef cell { row, column };
            if (CoveringCell(cells, cell) != cell)
                continue;
            const auto found = cells.find(cell);
            const TCellProperties properties = found == cells.end() ? TCellProperties() : found->second;
            if (!properties.HasImage() || !properties.Alt.empty())
                continue;
            const TCellBounds bounds = grid.Bounds(cell, properties.SpanColumns, properties.SpanRows);
            if (bounds.Width() > 0 && bounds.Height() > 0)
                tasks.push_back({ cell, bounds, !properties.Link.empty(), std::nullopt });
        }

    TThreadPool pool(threads);
    TTextReaderPool readers;
    std::atomic<int> done { 0 };
    std::atomic<bool> stopped { false };
    std::mutex asking;
    ParallelFor(pool, tasks.size(), [&](size_t index) {
        if (stopped)
            return;
        tasks[index].Text = readers.Read(picture, tasks[index].Bounds);
        const int finished = ++done;
        if (keepGoing) {
            const std::lock_guard lock(asking);
            if (!stopped && !keepGoing(finished, static_cast<int>(tasks.size())))
                stopped = true;
        }
    });
    if (stopped)
        return {};

    std::vector<TTextProposal> proposals;
    for (const TTask& task : tasks) {
        const TCellText& text = *task.Text;
        if (text.HoldsText() || (task.Linked && !text.Words.empty())) {
            const auto found = cells.find(task.Cell);
            proposals.push_back(
                { task.Cell, TextPropertyOf(found == cells.end() ? TCellProperties() : found->second),
                    text.Text(), text.Confidence() });
        }
    }
    return proposals;
}

} // namespace sw
