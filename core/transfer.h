// What a run does with each archive.
#pragma once

namespace lorvex {

// Moves it, copies it (the source is never changed), or makes a hard or a symbolic link to
// it in the destination.
enum class Transfer { Move, Copy, HardLink, SymbolicLink };

}  // namespace lorvex
