#include "app/module1.h"

#include "app/singleinstance.h"
#include "ui/fonts.h"
#include "ui/main/datelist.h"
#include "ui/main/form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QWindow>

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

void ShowMainWindow(Form1 &form)
{
    form.setWindowTitle(QString::fromUtf8(kMainWindowTitle));
    form.AddDateKeys(form.store().ListDateKeys());
    form.show();
    if (form.List1->count() > 0) {
        form.SelectItem(0);
        return;
    }
    // The add-date dialog centres on the window, so let the window system
    // place it first (bounded, in case no window manager answers).
    QElapsedTimer placed;
    placed.start();
    while (form.windowHandle() && !form.windowHandle()->isExposed() && placed.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents, 20);
    form.Command1_Click();
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
    QObject::connect(&instance, &SingleInstance::restoreRequested, &form, &Form1::Restore);
    ShowMainWindow(form);
    return QApplication::exec();
}

} // namespace tavlo
