#pragma once

// A run's input with pixels of its own: a worker that cuts or weighs the
// picture then shares no store with the window, which may change its
// picture meanwhile.

#include "core/generate/size_estimate.h"
#include "core/generate/slicing_pipeline.h"
#include "core/imaging/bitmap.h"

#include <cstdint>
#include <vector>

namespace sw {

class TInputCopy {
public:
    explicit TInputCopy(const TGenerationInput& input);
    TInputCopy(const TInputCopy&) = delete;
    TInputCopy& operator=(const TInputCopy&) = delete;

    // input with its picture and alpha replaced by the copies; no picture
    // when it had none or an empty one.
    const TGenerationInput& Input() const { return m_input; }
    TSizeEstimateInput EstimateInput() const;

private:
    TBitmap m_picture;
    std::vector<uint8_t> m_rgba;
    TGenerationInput m_input;
};

} // namespace sw
