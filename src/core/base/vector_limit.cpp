#include "core/base/vector_limit.h"

#include <cstdlib>
#include <string_view>

namespace sw {

TVectorLevel VectorLimitFrom(const char* limit)
{
    const std::string_view name = limit ? limit : "";
    if (name == "portable")
        return TVectorLevel::Portable;
    if (name == "ssse3")
        return TVectorLevel::Ssse3;
    if (name == "avx2")
        return TVectorLevel::Avx2;
    return TVectorLevel::Avx512;
}

bool VectorLevelAllowed(TVectorLevel level)
{
    static const TVectorLevel limit = VectorLimitFrom(std::getenv("SLICEWRIGHT_VECTOR_LIMIT"));
    return level <= limit;
}

} // namespace sw
