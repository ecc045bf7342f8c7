#include "generate/picture_formats.h"

#include <mutex>

namespace sw {

void RegisterPictureFormats()
{
    static std::once_flag once;
    std::call_once(once, [] {});
}

} // namespace sw
