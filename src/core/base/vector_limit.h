#pragma once

// Kernels chosen at run time use the widest vector instructions the
// processor has, unless SLICEWRIGHT_VECTOR_LIMIT holds them to a level
// ("portable", "ssse3", "avx2"): to compare kernels on one machine, or to
// rule the wider ones out when one is suspected of a fault.

namespace sw {

enum class TVectorLevel { Portable, Ssse3, Avx2, Avx512 };

// The widest level a limit allows; every level for none, or for a name
// that is not a level.
TVectorLevel VectorLimitFrom(const char* limit);

// Whether kernels of this level may be chosen (the environment's limit,
// read once); whether the processor has the instructions is the kernel's
// own question.
bool VectorLevelAllowed(TVectorLevel level);

} // namespace sw
