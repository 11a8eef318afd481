#include "app/module1.h"

#include "app/singleinstance.h"
#include "app/startupwork.h"
#include "store/agendafile.h"
#include "store/codepage.h"
#include "ui/focusstyle.h"
#include "ui/fonts.h"
#include "ui/main/datelist.h"
#include "ui/main/form1.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QWindow>

#include <future>

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

void ShowMainWindow(Form1 &form, const QStringList &dateKeys)
{
    form.setWindowTitle(QString::fromUtf8(kMainWindowTitle));
    form.AddDateKeys(dateKeys);
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

int Main(int &argc, char **argv)
{
    // A second copy hands over to the first before it connects to the
    // display or touches the agenda file.
    SingleInstance instance(QString::fromUtf8(kMainWindowTitle));
    if (!instance.acquire()) {
        instance.askRunningCopyToRestore();
        return 0;
    }

    BackgroundJob fontConfiguration(LoadFontConfiguration);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tavlo"));

    const AgendaLocation location = AgendaLocationFor(QCoreApplication::applicationFilePath());
    gstrDataFile = location.dataFile;
    // The dates are read on another core while the window is built; the
    // list is complete and the file closed before the window is shown.
    std::future<QStringList> dateKeys = std::async(std::launch::async, [location] {
        PrepareCodePage(); // for the first memo shown
        return AgendaFile(location.dataFile, location.section).ListDateKeys();
    });
    BackgroundJob imagePlugins(LoadImagePlugins);

    QApplication::setStyle(new FocusStyle);
    fontConfiguration.wait();
    QApplication::setFont(WindowFont(9.0));
    Form1 form(gstrDataFile, location.section);
    QObject::connect(&instance, &SingleInstance::restoreRequested, &form, &Form1::Restore);
    instance.startAnswering();
    ShowMainWindow(form, dateKeys.get());
    return QApplication::exec();
}

} // namespace tavlo
