#pragma once
// Start-up: where the data lives, the single running copy, the main window.
#include "store/files/safefile.h"

#include <QByteArray>
#include <QStringList>

namespace tavlo {

// The agenda file's full path as the kernel names it, set once at start-up.
extern QByteArray gstrDataFile;

struct AgendaLocation {
    QByteArray dataFile;     // where the agenda is read and written
    QByteArray sectionBytes; // the base name, in code page 932
    QByteArray seedFile;     // per user: the file beside the program, read
                             // until the first write copies it
};

// Where an executable keeps its agenda: beside itself, named after its
// complete base name (everything before the last dot of its file name). The
// path is taken as bytes: a folder unpacked from an archive made on another
// system may be named in code page 932 or Latin-1, and is used as it is.
AgendaLocation AgendaLocationFor(const QByteArray &executablePath);

// Where this user keeps it. Beside the program where the user may write
// there (a copy in a home folder or on a USB stick keeps its data with it);
// else, and always for a program in a system folder (nothing there changes
// at run time, not even for root), in a per-user store under `dataHome`
// whose folders mirror the program's, with the same file name, holding a
// copy of the file beside the program from the first write on.
AgendaLocation PlaceForUser(const AgendaLocation &beside, bool mayWriteBeside, const QByteArray &dataHome);

// Whether this user may create and replace files in the program's folder,
// and it is no system folder.
bool MayWriteBeside(const QByteArray &agendaPath);

// $XDG_DATA_HOME, or ~/.local/share.
QByteArray UserDataHome();

// The running executable's path, as the kernel has it.
QByteArray ExecutablePath();

class Form1;

// What start-up found in the agenda file while the window was built.
struct AgendaAtStart {
    QStringList dateKeys;
    FileIdentity identity;  // which file they were read from
    FileResult readFailure; // the file is there but could not be read
    QByteArray savingCopy;  // the old content an interrupted save left
    bool recoveryBusy = false; // another program's lock kept that from being known
};

// The start-up after the single-copy check: titles the hidden window, fills
// its list with the agenda's dates, shows it (and says where the copy of an
// interrupted save is, or that the file could not be read), then selects
// the first date or, with none, runs the add-date command; not on a file
// that could not be read, where nothing may be written.
void ShowMainWindow(Form1 &form, const AgendaAtStart &found);

// Runs the program with the command line given; returns its exit status.
int Main(int &argc, char **argv);

} // namespace tavlo
