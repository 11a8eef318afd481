#pragma once
// Overwriting a file where it is, for when a new file cannot take its place
// (see ReplaceFile): the old content kept whole and flushed in a journal
// beside it until the new is on disk, and put back if the write fails.
#include "store/files/safefile.h"

#include <vector>

namespace tavlo {

FileResult OverwriteInPlace(const LockedFile &file, const std::vector<BytePiece> &pieces);

} // namespace tavlo
