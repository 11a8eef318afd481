#pragma once
// Message boxes go through one seam, so that tests can answer them and read
// back exactly what was asked.
#include <QString>
#include <functional>

class QWidget;

namespace tavlo {

// Styles as combined by the windows: buttons plus icon.
enum MsgBoxStyle {
    vbOKOnly = 0,
    vbYesNoCancel = 3,
    vbYesNo = 4,
    vbCritical = 16,
    vbExclamation = 48,
    vbDefaultButton2 = 256, // No is the default answer
};

enum MsgBoxResult { vbOK = 1, vbCancel = 2, vbYes = 6, vbNo = 7 };

// Shows a message box; `text` uses CR LF line breaks. Returns the answer.
int MsgBox(QWidget *parent, const QString &text, int style, const QString &title);

using MsgBoxHandler =
    std::function<int(QWidget *parent, const QString &text, int style, const QString &title)>;

// Replaces the real dialog (tests); an empty handler restores it. Returns the
// handler that was in place.
MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler handler);

} // namespace tavlo
