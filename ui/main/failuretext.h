#pragma once
// What the user is told when the agenda file could not be read or written:
// what happened and what to do about it, in plain words. The system's own
// words come last, on a line of their own, only where ours cannot be exact.
#include "store/agendafile.h"

#include <QString>

namespace tavlo {

// Why a file operation failed (no line break at the end).
QString WhyItFailed(const FileResult &result);

// Why the store refused or failed a write.
QString WhyItFailed(const StoreResult &result);

// The copy an interrupted save left, and what the user must do with it
// before the next save may go ahead.
QString InterruptedSaveCopy(const QByteArray &copyPath);

} // namespace tavlo
