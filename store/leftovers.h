#pragma once
// What interrupted saves leave beside the agenda file.
#include <QByteArray>

namespace tavlo {

// Removes the hidden temporary files that a save or a backup copy of this
// agenda file was killed before renaming (only names this program makes),
// and returns the copy of an interrupted in-place save, if one is there:
// that one may hold the only whole content, so it is left for the user.
QByteArray CleanUpAfterInterruptedSaves(const QByteArray &agendaPath);

} // namespace tavlo
