#pragma once

// Progress of a long load, save, conversion or decode, as every graphic
// reports it. Throwing EAbort from the handler cancels the operation; what
// a cancelled operation keeps is stated by the graphic that reports.

#include <cstdint>
#include <functional>
#include <string>

namespace sw {

class TGraphic;
struct TRect;

enum class TProgressStage { Starting, Running, Ending };

// percentDone is 0 ... 100. rect is the part of the picture that changed
// since the last report (empty when the graphic does not say), and
// redrawNow whether it is worth showing already.
using TProgressEvent = std::function<void(TGraphic& sender, TProgressStage stage, uint8_t percentDone,
    bool redrawNow, const TRect& rect, const std::string& message)>;

} // namespace sw
