#pragma once

// For plain loops over arrays that the compiler does many lanes at a time:
// the program never looks at floating-point exception flags, so comparisons
// may be made on all lanes at once. Clang has no per-function optimize
// attribute, and its default already allows that.
#if defined(__clang__)
#define TINTORA_NO_TRAPPING_MATH
#else
#define TINTORA_NO_TRAPPING_MATH __attribute__((optimize("no-trapping-math")))
#endif
