#include "app/module1.h"

#include "app/singleinstance.h"
#include "ui/fonts.h"
#include "ui/main/form1.h"

#include <QApplication>
#include <QFileInfo>
#include <QListWidget>

namespace tavlo {

QString gstrDataFile;

AgendaLocation AgendaLocationFor(const QString &executablePath)
{
    const QFileInfo exe(executablePath);
    const QString base = exe.completeBaseName();
    // The separator is always added, as the file's place has always been
    // computed; a program in "/" keeps "//name.txt", which names the same file.
    return AgendaLocation{exe.absolutePath() + QLatin1Char('/') + base + QStringLiteral(".txt"), base};
}

int Main()
{
    const AgendaLocation location = AgendaLocationFor(QCoreApplication::applicationFilePath());
    gstrDataFile = location.dataFile;

    SingleInstance instance(QString::fromUtf8(kMainWindowTitle));
    if (!instance.acquire()) {
        instance.askRunningCopyToRestore();
        return 0;
    }

    InstallFontSubstitutes();
    QApplication::setFont(WindowFont(9.0));

    Form1 form(gstrDataFile, location.section);
    form.setWindowTitle(QString::fromUtf8(kMainWindowTitle));
    QObject::connect(&instance, &SingleInstance::restoreRequested, &form, &Form1::Restore);
    form.AddDateKeys(AgendaFile(gstrDataFile, location.section).ListDateKeys());
    form.show();
    if (form.List1->count() == 0)
        form.Command1_Click();
    else
        form.SelectItem(0);
    return QApplication::exec();
}

} // namespace tavlo
