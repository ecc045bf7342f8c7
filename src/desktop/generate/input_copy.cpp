#include "desktop/generate/input_copy.h"

#include <algorithm>

namespace sw {

TInputCopy::TInputCopy(const TGenerationInput& input)
    : m_input(input)
{
    m_input.Picture = nullptr;
    m_input.Rgba.reset();
    if (input.Picture && !input.Picture->Empty()) {
        m_picture = *input.Picture;
        // Writing a row gives the copy a store of its own, pixels and
        // format as they were.
        m_picture.ScanLine(0);
        m_input.Picture = &m_picture;
    }
    if (input.Rgba && input.Rgba->Layout == TPixelLayout::Rgba32 && input.Rgba->Width > 0
        && input.Rgba->Height > 0) {
        const TPixelView& view = *input.Rgba;
        const size_t rowBytes = size_t(view.Width) * 4;
        m_rgba.resize(rowBytes * size_t(view.Height));
        for (int y = 0; y < view.Height; ++y)
            std::copy_n(view.Row(y), rowBytes, m_rgba.data() + rowBytes * size_t(y));
        m_input.Rgba = TPixelView { m_rgba.data(), view.Width, view.Height, ptrdiff_t(rowBytes),
            TPixelLayout::Rgba32 };
    }
}

TSizeEstimateInput TInputCopy::EstimateInput() const
{
    TSizeEstimateInput estimate;
    estimate.Picture = m_input.Picture;
    estimate.Rgba = m_input.Rgba;
    estimate.ColumnCaptions = m_input.ColumnCaptions;
    estimate.RowCaptions = m_input.RowCaptions;
    estimate.TransparentColor = m_input.TransparentColor;
    return estimate;
}

} // namespace sw
