// What a sub-plan of a real-to-complex strategy is for, read from the request
// that made it, for tests that check which plans a compute call reaches.
#pragma once

#include "support/recording.h"

namespace zun::fft::support {

// Innermost: the planner's own row or plane plans. Column: the companion's
// in-place column plans. Backward out of place: BackwardColumn writes the real
// destination, LastColumn the side buffer (its input stride is one complex
// value), and Split finishes the real data from both.
enum class Role { Innermost, Column, BackwardColumn, LastColumn, Split };

inline Role roleOf(const FactoryCall& made)
{
    if (made.op == "makeSplitBackward") return Role::Split;
    if (!made.companion) return Role::Innermost;
    if (made.op == "makeInplace") return Role::Column;
    return made.dims[0].inStride == 2 ? Role::LastColumn : Role::BackwardColumn;
}

// The operation a plan of some role is called with, and whether it gets the
// call's extra argument.
struct Routed {
    const char* op;
    bool getsExtraArg;
};

}  // namespace zun::fft::support
