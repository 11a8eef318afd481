#pragma once
// Start-up: where the data lives, the single running copy, the main window.
#include <QString>
#include <QStringList>

namespace tavlo {

// The agenda file's full path, set once at start-up.
extern QString gstrDataFile;

struct AgendaLocation {
    QString dataFile; // directory + "/" + base name + ".txt"
    QString section;  // the base name
};

// Where an executable keeps its agenda: beside itself, named after its
// complete base name (everything before the last dot of its file name).
AgendaLocation AgendaLocationFor(const QString &executablePath);

class Form1;

// The start-up after the single-copy check: titles the hidden window, fills
// its list with the agenda's dates, shows it, then selects the first date or,
// with none, runs the add-date command.
void ShowMainWindow(Form1 &form, const QStringList &dateKeys);

// Runs the program with the command line given; returns its exit status.
int Main(int &argc, char **argv);

} // namespace tavlo
