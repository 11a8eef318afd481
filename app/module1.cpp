#include "app/module1.h"

#include "app/singleinstance.h"
#include "app/startupwork.h"
#include "platform/displayserver.h"
#include "store/agendafile.h"
#include "store/codepage.h"
#include "store/filenames.h"
#include "store/recovery.h"
#include "ui/accessibility.h"
#include "ui/focusstyle.h"
#include "ui/fonts.h"
#include "ui/main/datelist.h"
#include "ui/main/form1.h"
#include "ui/messagebox.h"
#include "ui/windowactivation.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QIcon>
#include <QTimer>
#include <QWindow>

#include <climits>
#include <pwd.h>
#include <cstdlib>
#include <future>
#include <unistd.h>
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <xcb/xcb.h>
#endif

// The resources live in a static library; the linker keeps them only when
// asked for by name, from outside any namespace.
static void InitResources()
{
    Q_INIT_RESOURCE(tavlo);
}

namespace tavlo {

// Desktops match the running program to its desktop entry by this name.
const char kDesktopFileName[] = "org.example." TAVLO_PROGRAM_NAME;

QByteArray gstrDataFile;

AgendaLocation AgendaLocationFor(const QByteArray &executablePath)
{
    const int slash = executablePath.lastIndexOf('/');
    const QByteArray folder = slash == 0 ? QByteArray("/") : executablePath.left(qMax(slash, 0));
    const QByteArray name = executablePath.mid(slash + 1);
    const int dot = name.lastIndexOf('.');
    const QByteArray base = dot >= 0 ? name.left(dot) : name;
    // A name in UTF-8 becomes its code page 932 form in the file; any other
    // bytes are most likely that code page already, and are kept.
    const QString text = QString::fromUtf8(base);
    const Cp932Encoded section = toCp932(text);
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

void ShowMainWindow(Form1 &form, const QStringList &dateKeys, const QByteArray &savingCopy)
{
    form.setWindowTitle(QString::fromUtf8(kMainWindowTitle));
    form.AddDateKeys(dateKeys);
    form.show();
    if (!savingCopy.isEmpty())
        form.ReportInterruptedSave(savingCopy);
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

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
namespace {

// Whether the X desktop sets the font resolution (Xft.dpi), which is what
// says how much a high-DPI screen scales. Without it Qt 6 takes 96 dots per
// inch, Qt 5 the screen's physical size, which many X servers give wrongly
// (Xvfb says 100): the classic build would draw at 1.04 where the other
// draws at 1. One look at the root window's resources, before Qt connects.
bool DesktopSetsFontResolution()
{
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (!platform.isEmpty() && !platform.startsWith("xcb"))
        return true; // not X: nothing to correct
    int screenNumber = 0;
    xcb_connection_t *connection = xcb_connect(nullptr, &screenNumber);
    bool set = true;
    if (!xcb_connection_has_error(connection)) {
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; i < screenNumber && screens.rem; ++i)
            xcb_screen_next(&screens);
        const xcb_get_property_cookie_t cookie = xcb_get_property(
            connection, 0, screens.data->root, XCB_ATOM_RESOURCE_MANAGER, XCB_ATOM_STRING, 0, 1 << 16);
        if (xcb_get_property_reply_t *reply = xcb_get_property_reply(connection, cookie, nullptr)) {
            const QByteArray resources(static_cast<const char *>(xcb_get_property_value(reply)),
                                       xcb_get_property_value_length(reply));
            set = resources.startsWith("Xft.dpi:") || resources.contains("\nXft.dpi:");
            std::free(reply);
        }
    }
    xcb_disconnect(connection);
    return set;
}

} // namespace
#endif

namespace {

// The installed icon is looked up once the window has painted: reading the
// icon themes (Qt 5 walks every installed one) is no part of the way to the
// first paint.
class IconAfterFirstPaint : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                InitResources();
                QApplication::setWindowIcon(QIcon::fromTheme(QString::fromLatin1(kDesktopFileName),
                                                             QIcon(QStringLiteral(":/org.example.tavlo.png"))));
                deleteLater();
            });
        }
        return false;
    }
};

void SetWindowIconAfterFirstPaint(QWidget &window)
{
    window.installEventFilter(new IconAfterFirstPaint(&window));
}

} // namespace

void EnableHighDpiScaling()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    if (qEnvironmentVariableIsEmpty("QT_FONT_DPI") && !DesktopSetsFontResolution())
        qputenv("QT_FONT_DPI", "96");
    // Qt 6 scales the whole window on high-DPI screens, by the exact factor;
    // Qt 5 only grows the fonts, which the fixed layout cannot hold.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
#endif
}

int Main(int &argc, char **argv)
{
    // A second copy hands over to the first before it connects to the
    // display or touches the agenda file.
    PreferDisplayServer();
    SingleInstance instance(QString::fromUtf8(kMainWindowTitle));
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

    BackgroundJob fontConfiguration(LoadFontConfiguration);
    EnableHighDpiScaling();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(TAVLO_PROGRAM_NAME));
    QGuiApplication::setDesktopFileName(QString::fromLatin1(kDesktopFileName));

    const QByteArray program = ExecutablePath();
    const AgendaLocation beside = AgendaLocationFor(program);
    const AgendaLocation location = PlaceForUser(beside, MayWriteBeside(beside.dataFile), UserDataHome());
    gstrDataFile = location.dataFile;
    const AgendaFile store(location.dataFile, location.sectionBytes, program, location.seedFile);
    // The dates are read on another core while the window is built; the
    // list is complete and the file closed before the window is shown. This
    // copy holds the lock, so what killed saves left behind is its to clear.
    QByteArray savingCopy;
    std::future<QStringList> dateKeys = std::async(std::launch::async, [&store, &savingCopy] {
        savingCopy = RecoverAfterInterruptedSaves(store.nativePath());
        PrepareCodePage(); // for the first memo shown
        return store.ListDateKeys();
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
    const QStringList keys = dateKeys.get();
    ShowMainWindow(form, keys, savingCopy);
    return QApplication::exec();
}

} // namespace tavlo
