#pragma once
// What each of the program's dialogs is: a fixed-size modal box in the
// window font, framed as dialogs are (neither maximised nor minimised).
#include "ui/classic/fonts.h"
#include "ui/style/windowframe.h"

#include <QDialog>

namespace tavlo {

inline void SetUpDialog(QDialog *dialog, const QString &title, int widthTwips, int heightTwips)
{
    UseDialogFrame(dialog);
    dialog->setWindowTitle(title);
    dialog->setFont(WindowFont(9.0));
    dialog->setFixedSize(Twips(widthTwips), Twips(heightTwips));
    dialog->setModal(true);
}

} // namespace tavlo
