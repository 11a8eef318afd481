#pragma once
// What interrupted saves leave beside the agenda file, dealt with at start-up.
#include <QByteArray>

namespace tavlo {

struct Recovery {
    QByteArray journal; // announce it: the file beside it may be torn
    bool busy = false;  // another program held the file's lock: try again later
};

// Removes the temporaries that killed saves and backup copies of this agenda
// file left (only this user's, only with our mark, only those no running
// save holds), and the journal of a killed in-place save when the file holds
// that same content. Gives the journal's path when it is still there: the
// file beside it may be torn, and the journal is the whole content before
// that save, so the user must hear of it. Nothing is touched while another
// program holds the file's lock longer than `waitMs`.
Recovery RecoverAfterInterruptedSaves(const QByteArray &agendaPath, int waitMs = 1000);

} // namespace tavlo
