#include "app/module1.h"

#include "app/startupwork.h"
#include "platform/displayserver.h"
#include "platform/singleinstance.h"
#include "platform/windowactivation.h"
#include "store/agendafile.h"
#include "store/codepage.h"
#include "store/files/filenames.h"
#include "store/files/recovery.h"
#include "ui/classic/fonts.h"
#include "ui/classic/messagebox.h"
#include "ui/main/datelist.h"
#include "ui/main/form1.h"
#include "ui/style/accessibility.h"
#include "ui/style/focusstyle.h"
#include "ui/style/windowicon.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QWindow>

#include <climits>
#include <cstdio>
#include <pwd.h>
#include <cstdlib>
#include <future>
#include <unistd.h>

namespace tavlo {

// Desktops match the running program to its desktop entry by this name.
const char kDesktopFileName[] = "org.example." TAVLO_PROGRAM_NAME;

QByteArray gstrDataFile;

AgendaLocation AgendaLocationFor(const QByteArray &executablePath)
{
    const QByteArray folder = FolderOf(executablePath);
    const QByteArray name = FileNameOf(executablePath);
    const int dot = name.lastIndexOf('.');
    const QByteArray base = dot >= 0 ? name.left(dot) : name;
    // A name in UTF-8 becomes its code page 932 form in the file; any other
    // bytes are most likely that code page already, and are kept.
    const QString text = QString::fromUtf8(base);
    const Cp932Encoded section = ToCp932(text);
    const bool utf8 = text.toUtf8() == base;
    // The separator is always added, as the file's place has always been
    // computed; a program in "/" keeps "//name.txt", which names the same file.
    return AgendaLocation{folder + '/' + base + ".txt", utf8 && section.ok() ? section.bytes : base, QByteArray()};
}

AgendaLocation PlaceForUser(const AgendaLocation &beside, bool mayWriteBeside, const QByteArray &dataHome)
{
    if (mayWriteBeside)
        return beside;
    // "/usr/bin/tavlo.txt" becomes "<data home>/tavlo/usr/bin/tavlo.txt".
    QByteArray mirrored = beside.dataFile;
    while (mirrored.startsWith('/'))
        mirrored.remove(0, 1);
    AgendaLocation own = beside;
    own.dataFile = dataHome + "/tavlo/" + mirrored;
    own.seedFile = beside.dataFile;
    return own;
}

bool MayWriteBeside(const QByteArray &agendaPath)
{
    const QByteArray folder = FolderOf(agendaPath);
    for (const char *system : {"/usr", "/opt", "/bin", "/sbin", "/lib", "/snap", "/nix"})
        if (folder == system || folder.startsWith(QByteArray(system) + '/'))
            return false;
    return ::access(folder.constData(), W_OK | X_OK) == 0;
}

QByteArray UserDataHome()
{
    const QByteArray given = qgetenv("XDG_DATA_HOME");
    if (given.startsWith('/'))
        return given;
    QByteArray home = qgetenv("HOME");
    if (!home.startsWith('/'))
        if (const passwd *entry = ::getpwuid(::getuid()))
            home = entry->pw_dir;
    return home + "/.local/share";
}

QByteArray ExecutablePath()
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n > 0 && size_t(n) < sizeof buffer)
        return QByteArray(buffer, int(n));
    return QFile::encodeName(QCoreApplication::applicationFilePath());
}

void ShowMainWindow(Form1 &form, const AgendaAtStart &found)
{
    form.setWindowTitle(QString::fromUtf8(kMainWindowTitle));
    form.AddDateKeys(found.dateKeys);
    form.show();
    if (!found.savingCopy.isEmpty())
        form.ReportInterruptedSave(found.savingCopy);
    if (found.recoveryBusy)
        form.CheckForInterruptedSaveLater();
    if (!found.readFailure.ok())
        form.ReportReadFailure(found.readFailure);
    form.FollowTheFile(found.identity);
    form.OfferConflictCopies();
    if (form.List1->count() > 0) {
        form.SelectItem(0);
        return;
    }
    if (!found.readFailure.ok())
        return;
    // The add-date dialog centres on the window, so let the window system
    // place it first (bounded, in case no window manager answers).
    QElapsedTimer placed;
    placed.start();
    while (form.windowHandle() && !form.windowHandle()->isExposed() && placed.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents, 20);
    form.Command1_Click();
}


namespace {

// What a terminal user asks of the program: answered without a display.
bool answerCommandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--version") {
            std::printf("%s %s\n", TAVLO_PROGRAM_NAME, TAVLO_VERSION);
            return true;
        }
        if (arg == "--help" || arg == "-h") {
            const AgendaLocation beside = AgendaLocationFor(ExecutablePath());
            const AgendaLocation used = PlaceForUser(beside, MayWriteBeside(beside.dataFile), UserDataHome());
            std::printf("使い方: %s [--help | --version]\n"
                        "日付ごとにメモを一つずつ残すスケジュール管理ツールです。\n"
                        "メモは次のファイルに保存されます: %s\n\n"
                        "  --help     この説明を表示して終わります\n"
                        "  --version  版を表示して終わります\n\n"
                        "キー: Ctrl+S 保存、Ctrl+F 検索、F3 次を検索、Shift+F3 前を検索、\n"
                        "      日付の一覧で Delete 日付の削除、Enter 日付の追加\n",
                        TAVLO_PROGRAM_NAME, PathForDisplay(used.dataFile).toUtf8().constData());
            return true;
        }
    }
    return false;
}

} // namespace

int Main(int &argc, char **argv)
{
    if (answerCommandLine(argc, argv))
        return 0;
    // A second copy hands over to the first before it connects to the
    // display or touches the agenda file.
    PreferDisplayServer();
    SingleInstance instance(QString::fromUtf8(kRunningCopyKey));
    if (!instance.acquire()) {
        if (instance.askRunningCopyToRestore(ActivationTokenForAnotherCopy(kDesktopFileName)))
            return 0;
        // Another copy holds the lock but does not answer (it hangs, or is
        // stopped): say so rather than end without a word.
        QApplication app(argc, argv);
        QApplication::setFont(WindowFont(9.0));
        MsgBox(nullptr,
               QStringLiteral("スケジュール管理ツールはすでに起動していますが、応答がありません。\r\n"
                              "そのプログラムを終了してから、もう一度起動してください。"),
               vbCritical, QStringLiteral("異常検出"));
        return 1;
    }

    // Every change to the environment comes before the first thread: setenv
    // may free the table that a getenv on another thread is walking.
    EnableHighDpiScaling();
    BackgroundJob fontConfiguration(LoadFontConfiguration);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(TAVLO_PROGRAM_NAME));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));

    const QByteArray program = ExecutablePath();
    const AgendaLocation beside = AgendaLocationFor(program);
    const AgendaLocation location = PlaceForUser(beside, MayWriteBeside(beside.dataFile), UserDataHome());
    gstrDataFile = location.dataFile;
    const AgendaFile store(gstrDataFile, location.sectionBytes, program, location.seedFile);
    // The dates are read on another core while the window is built; the
    // list is complete and the file closed before the window is shown. This
    // copy holds the lock, so what killed saves left behind is its to clear.
    AgendaAtStart found;
    unsigned activeAtStart = 0;
    std::future<void> scanned = std::async(std::launch::async, [&store, &found, &activeAtStart] {
        activeAtStart = ActiveWindowNow();
        const Recovery recovery = RecoverAfterInterruptedSaves(store.NativePath());
        found.savingCopy = recovery.journal;
        found.recoveryBusy = recovery.busy;
        PrepareCodePage(); // for the first memo shown
        found.identity = store.Identity();
        found.dateKeys = store.ListDateKeys(&found.readFailure);
    });
    BackgroundJob imagePlugins(LoadImagePlugins);

    QApplication::setStyle(new FocusStyle);
    InstallAccessibility();
    fontConfiguration.wait();
    QApplication::setFont(WindowFont(9.0));
    Form1 form(store);
    QObject::connect(&instance, &SingleInstance::restoreRequested, &form, &Form1::Restore);
    instance.startAnswering();
    SetWindowIconAfterFirstPaint(form);
    scanned.get();
    QTimer::singleShot(0, &form, [&form, activeAtStart] {
        QWidget *modal = QApplication::activeModalWidget();
        ActivateShownAtStart((modal ? modal : &form)->windowHandle(), activeAtStart);
    });
    ShowMainWindow(form, found);
    return QApplication::exec();
}

} // namespace tavlo
