#include "ui/main/form1.h"

#include "platform/clock.h"
#include "platform/windowactivation.h"
#include "store/codepage.h"
#include "store/files/filenames.h"
#include "store/files/recovery.h"
#include "store/memo.h"
#include "ui/classic/editortext.h"
#include "ui/classic/fonts.h"
#include "ui/classic/keycodes.h"
#include "ui/classic/messagebox.h"
#include "ui/dialogs/form2.h"
#include "ui/dialogs/form3.h"
#include "ui/main/datelist.h"
#include "ui/main/failuretext.h"
#include "ui/style/quietscrollbar.h"
#include "ui/style/windowframe.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QTextCursor>
#include <QTimer>
#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <future>

namespace tavlo {

const char *const kMainWindowTitle = "スケジュール管理ツール";
const char *const kPlaceholderMemo = "（文字列を削除すると、追加した日付が削除されます）";

namespace {

const QString kTitleAborted = QStringLiteral("処理中断");
const QString kTitleFault = QStringLiteral("異常検出");
const QString kTitleDone = QStringLiteral("処理完了");

const QString kTitleFound = QStringLiteral("検索結果");

// While the window waits (for work on another core, or for another
// program's lock), it keeps painting and answering the desktop, takes no
// input, and once asked shows that it is busy.
class BusyWindow
{
public:
    BusyWindow(bool &busy, bool busyNow) : m_busy(busy), m_was(busy) { m_busy = m_busy || busyNow; }
    ~BusyWindow()
    {
        m_busy = m_was;
        if (m_cursor)
            QApplication::restoreOverrideCursor();
    }
    BusyWindow(const BusyWindow &) = delete;
    BusyWindow &operator=(const BusyWindow &) = delete;

protected:
    void answer(bool showBusy) const
    {
        m_busy = true;
        if (showBusy && !m_cursor) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            m_cursor = true;
        }
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }

private:
    bool &m_busy;
    const bool m_was;
    mutable bool m_cursor = false;
};

// Work on another core: busy from the start, said after a moment.
class WindowStaysAlive : public BusyWindow
{
public:
    explicit WindowStaysAlive(bool &busy) : BusyWindow(busy, true) {}

    template <class T>
    void waitFor(const std::future<T> &work) const
    {
        QElapsedTimer waited;
        waited.start();
        while (work.wait_for(std::chrono::milliseconds(10)) != std::future_status::ready)
            answer(waited.elapsed() > 100);
    }
};

// How long one action of the user waits, in all, for another program that
// holds the file's lock before it says the file is busy.
constexpr int kActionWaitMs = 2500;

// An action on the file: busy, and said, only while another program's lock
// keeps it waiting.
class FileWait : public BusyWindow
{
public:
    explicit FileWait(bool &waiting) : BusyWindow(waiting, false), m_waits(kActionWaitMs, [this] { answer(true); }) {}

private:
    LockWaits m_waits;
};

QPushButton *makeButton(QWidget *parent, const char *caption, int left, int width)
{
    auto *button = new QPushButton(QString::fromUtf8(caption), parent);
    button->setGeometry(Twips(left), Twips(60), Twips(width), Twips(435));
    // Not the window's default button; Enter presses it while it has the
    // focus, as Space does.
    button->setAutoDefault(true);
    button->setAccessibleName(button->text());
    return button;
}

} // namespace

Form1::Form1(const AgendaFile &store, QWidget *parent) : QWidget(parent), m_store(store)
{
    CreateControls();
}

void Form1::CreateControls()
{
    UseMainWindowFrame(this);
    setWindowTitle(QString::fromUtf8(kMainWindowTitle));
    setFont(WindowFont(9.0));
    setFixedSize(Twips(9000), Twips(5460));

    List1 = new DateList(this);
    List1->setGeometry(Twips(120), Twips(180), Twips(1575), Twips(5100));
    List1->setAccessibleName(QStringLiteral("日付一覧"));

    Text1 = new QPlainTextEdit(this);
    Text1->setGeometry(Twips(1860), Twips(540), Twips(6975), Twips(4215));
    Text1->setVerticalScrollBar(new QuietScrollBar(Qt::Vertical, Text1));
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Text1->setTabChangesFocus(true);
    Text1->setAccessibleName(QStringLiteral("メモ"));

    Frame1 = new QGroupBox(this);
    Frame1->setGeometry(Twips(1860), Twips(4860), Twips(7035), Twips(555));
    Frame1->setFocusPolicy(Qt::NoFocus);

    Command1 = makeButton(Frame1, "日付追加", 60, 1095);
    Command2 = makeButton(Frame1, "更新", 1320, 1095);
    Command3 = makeButton(Frame1, "サイズ変更", 2580, 1215);
    Command6 = makeButton(Frame1, "別保存", 4260, 975);
    Command4 = makeButton(Frame1, "？", 5400, 555);
    Command5 = makeButton(Frame1, "終了", 6120, 855);

    Label1 = new QLabel(QStringLiteral("変更を加えた文字列は、「更新」ボタン押下で保存されます。"), this);
    Label1->setGeometry(Twips(1860), Twips(180), Twips(7020), Twips(300));
    Label1->setFont(WindowFont(9.75));

    setTabOrder(List1, Text1);
    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Command3);
    setTabOrder(Command3, Command6);
    setTabOrder(Command6, Command4);
    setTabOrder(Command4, Command5);

    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &Form1::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &Form1::Command4_Click);
    connect(Command5, &QPushButton::clicked, this, &Form1::Command5_Click);
    connect(Command6, &QPushButton::clicked, this, &Form1::Command6_Click);
    // Selection, not the current item, is what a date switch is: the view may
    // move its current item on focus without selecting it.
    connect(List1, &DateList::selectionChangedByAnyone, this, &Form1::List1_Click);
    connect(Text1, &QPlainTextEdit::textChanged, this, &Form1::Text1_Change);
    List1->installEventFilter(this);
    Text1->installEventFilter(this);

    const auto shortcut = [this](const QKeySequence &keys, auto slot) {
        connect(new QShortcut(keys, this), &QShortcut::activated, this, slot);
    };
    shortcut(QKeySequence(Qt::CTRL | Qt::Key_F), &Form1::FindBox);
    shortcut(QKeySequence(Qt::Key_F3), [this] { FindNext(true); });
    shortcut(QKeySequence(Qt::SHIFT | Qt::Key_F3), [this] { FindNext(false); });
}

void Form1::AddDateKeys(const QStringList &keys)
{
    if (keys.isEmpty())
        return;
    QStringList all = List1->keys() + keys;
    // Plain character-code order, the same on every machine; equal keys keep
    // their order, so duplicates in a hand-edited file show as they are. A
    // file written day by day is in order already.
    if (!std::is_sorted(all.begin(), all.end()))
        std::stable_sort(all.begin(), all.end());
    m_fillingList = true;
    List1->setSortedKeys(all);
    m_fillingList = false;
}

void Form1::RemoveItem(int index)
{
    // Clear the current item first: otherwise the list would make the next
    // date current and load its memo.
    List1->setCurrentRow(-1);
    List1->removeAt(index);
}

int Form1::CurrentIndex() const
{
    return List1->selectedRow();
}

void Form1::SelectItem(int index)
{
    List1->setCurrentRow(index);
}

void Form1::Restore(const QByteArray &activationToken)
{
    setWindowState(windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized));
    showNormal();
    // A dialog that is open keeps the input: bring it forward over the
    // window. A Wayland token activates once, so it goes to the one that
    // takes the input.
    QWidget *modal = QApplication::activeModalWidget();
    ActivateWindow(windowHandle(), modal ? QByteArray() : activationToken);
    if (modal) {
        modal->showNormal();
        ActivateWindow(modal->windowHandle(), activationToken);
    }
}

bool Form1::eventFilter(QObject *watched, QEvent *event)
{
    // Keys are acted on and then passed on: the widgets still see every one.
    if (watched == List1 && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (m_keyPressedInList != 0 && VirtualKeyCode(key) >= vbKeyShift && VirtualKeyCode(key) <= vbKeyMenu) {
            m_strokeShift |= ShiftState(key); // a modifier pressed while the key is down
        } else if (!key->isAutoRepeat()) {
            m_keyPressedInList = key->key();
            m_strokeShift = ShiftState(key);
        }
    } else if (watched == List1 && event->type() == QEvent::KeyRelease) {
        // Only a key pressed here counts: the release of the Enter that
        // closed a dialog must not open the add-date dialog again. A modifier
        // held at any moment of the stroke counts, also one let go before
        // the key itself.
        auto *key = static_cast<QKeyEvent *>(event);
        if (!key->isAutoRepeat() && key->key() == m_keyPressedInList) {
            m_keyPressedInList = 0;
            List1_KeyUp(VirtualKeyCode(key), ShiftState(key) | m_strokeShift);
        }
    } else if (watched == List1 && event->type() == QEvent::FocusOut) {
        m_keyPressedInList = 0;
    } else if (watched == Text1 && event->type() == QEvent::KeyPress) {
        auto *key = static_cast<QKeyEvent *>(event);
        Text1_KeyDown(VirtualKeyCode(key), ShiftState(key));
    }
    return QWidget::eventFilter(watched, event);
}

// --- Date list and memo loading -------------------------------------------

void Form1::List1_Click()
{
    const int index = CurrentIndex();
    if (index < 0 || m_fillingList)
        return;
    // The identity is taken as the file is opened, before the read: a change
    // in between shows later.
    FileResult failure;
    std::optional<QString> value;
    {
        const FileWait wait(m_waitingForFile);
        value = m_loaded.Load(m_store, List1->text(index), &failure);
    }
    // A date without a readable memo shows an empty editor rather than the
    // previous date's memo, which a save would then store under this date.
    SetEditorText(Text1, value ? DecodeMemo(*value) : QString());
    // A memo that could not be read must not be typed over and saved.
    Text1->setReadOnly(!failure.ok());
    mstrLoadedText = EditorText(Text1);
    QCoreApplication::processEvents();
    Command2->setEnabled(false);
    if (!failure.ok())
        ReportReadFailure(failure);
}

void Form1::List1_KeyUp(int KeyCode, int Shift)
{
    if (KeyCode == vbKeyDelete && Shift == 0) {
        const int index = CurrentIndex();
        if (index < 0)
            return;
        const FileWait wait(m_waitingForFile);
        if (!StoredMemoMayBeReplaced(List1->text(index), Deleting))
            return;
        SetEditorText(Text1, QString());
        const StoreResult result = m_store.DeleteDate(List1->text(index));
        if (!result.ok()) {
            ReportFailure(result, Deleting);
            List1_Click(); // the date is still there: show its memo again
            return;
        }
        m_seen = m_store.Identity();
        RemoveItem(index);
    } else if (KeyCode == vbKeyReturn && Shift == 0) {
        Command1_Click();
    }
}

// --- Memo editing and saving ----------------------------------------------

bool Form1::IsSameText(const QString &text) const
{
    return text == mstrLoadedText;
}

void Form1::Text1_Change()
{
    Command2->setEnabled(!IsSameText(EditorText(Text1)));
}

void Form1::Text1_KeyDown(int KeyCode, int Shift)
{
    if (KeyCode == vbKeyA && Shift == vbCtrlMask) {
        Text1->selectAll();
    } else if (KeyCode == vbKeyS && Shift == vbCtrlMask) {
        // Only a save disables the button: a memo that was not stored must
        // keep showing as unsaved.
        if (Command2->isEnabled())
            SaveCurrentMemo();
    }
}

void Form1::Command2_Click()
{
    SaveCurrentMemo();
}

bool Form1::SaveCurrentMemo()
{
    const int index = CurrentIndex();
    if (index < 0)
        return false;
    const QString encoded = EncodeMemo(EditorText(Text1));
    const MemoSize size = MeasureMemo(encoded);
    if (!size.unmappable.isEmpty()) {
        MsgBox(this, WhyItFailed(StoreResult::refused(StoreRefusal::Unmappable, size.unmappable)), vbExclamation,
               kTitleAborted);
        return false;
    }
    if (!FitsMemoSizeLimit(size)) {
        MsgBox(this, QStringLiteral("データサイズが %1 バイトを超えています。").arg(kMemoSizeLimit), vbExclamation,
               kTitleAborted);
        return false;
    }
    const QString key = List1->text(index);
    const FileWait wait(m_waitingForFile);
    if (!StoredMemoMayBeReplaced(key, encoded.isEmpty() ? Deleting : Saving))
        return false;
    if (!encoded.isEmpty()) {
        const StoreResult result = m_store.WriteMemo(key, encoded);
        if (!result.ok()) {
            ReportFailure(result, Saving);
            return false;
        }
        Text1->setFocus();
        Text1->selectAll();
    } else {
        const StoreResult result = m_store.DeleteDate(key);
        if (!result.ok()) {
            ReportFailure(result, Deleting);
            return false;
        }
        RemoveItem(index);
    }
    m_seen = m_store.Identity();
    m_loaded.Remember(key, encoded.isEmpty() ? std::nullopt : std::optional<QString>(encoded), m_seen);
    mstrLoadedText = EditorText(Text1);
    Command2->setEnabled(false);
    return true;
}

bool Form1::StoredMemoMayBeReplaced(const QString &key, StoreAction action)
{
    FileResult unread;
    const bool changed = m_loaded.ChangedElsewhere(m_store, key, &unread);
    if (!unread.ok()) {
        ReportReadFailure(unread); // nothing is written over what could not be read
        return false;
    }
    if (!changed)
        return true;
    // Someone else's change is kept unless the user says otherwise.
    const int style = vbYesNo + vbExclamation + vbDefaultButton2;
    const QString text = key + QStringLiteral("\r\nのメモは、読み込んだ後にほかのプログラムで変更されています。\r\n")
        + (action == Deleting ? QStringLiteral("削除しますか？") : QStringLiteral("上書きしますか？"));
    return MsgBox(this, text, style, action == Deleting ? QStringLiteral("削除確認") : QStringLiteral("上書き確認"))
        == vbYes;
}

void Form1::ReportInterruptedSave(const QByteArray &copyPath)
{
    MsgBox(this,
           QStringLiteral("前回の保存が中断されました。保存する前の内容が次のファイルに残っています。\r\n")
               + InterruptedSaveCopy(copyPath),
           vbExclamation, kTitleFault);
}

void Form1::CheckForInterruptedSaveLater()
{
    auto *retry = new QTimer(this);
    connect(retry, &QTimer::timeout, this, [this, retry] {
        if (m_waitingForFile)
            return;
        const Recovery recovery = RecoverAfterInterruptedSaves(m_store.NativePath(), 0);
        if (recovery.busy)
            return;
        retry->deleteLater();
        if (!recovery.journal.isEmpty())
            ReportInterruptedSave(recovery.journal);
    });
    retry->start(2000);
}

void Form1::ReportReadFailure(const FileResult &failure)
{
    StoreResult result;
    result.file = failure;
    ReportFailure(result, Reading);
}

void Form1::ReportFailure(const StoreResult &result, StoreAction action)
{
    static const char *const kWhat[] = {
        "\r\nへの保存が失敗しました。\r\n", "\r\nからの削除が失敗しました。\r\n", "\r\nに日付を追加できませんでした。\r\n",
        "\r\nを読み込めませんでした。読み込めるようになるまで、このファイルには書き込みません。\r\n",
        "\r\nにコピーのメモを取り込めませんでした。コピーはそのまま残っています。\r\n",
        "\r\nにコピーのメモを取り込みましたが、コピーの名前を変えられませんでした。次の起動でまた尋ねますが、"
        "同じメモが重ねて加わることはありません。\r\n",
        "\r\nのフォルダーで、同期ソフトの残したコピーを探せませんでした。\r\n"};
    MsgBox(this, m_store.DisplayPath() + QString::fromUtf8(kWhat[action]) + WhyItFailed(result), vbCritical, kTitleFault);
}

// --- Adding a date ---------------------------------------------------------

void Form1::Command1_Click()
{
    gstrAddDate.clear();
    {
        Form2 dialog(this, &gstrAddDate);
        dialog.exec();
    }
    if (gstrAddDate.isEmpty())
        return;
    const FileWait wait(m_waitingForFile);
    // A date can be stored without being listed: after an empty line that
    // ends the start-up scan, or added by another program since.
    FileResult unread;
    if (List1->keys().contains(gstrAddDate) || m_store.HasDate(gstrAddDate, &unread)) {
        MsgBox(this, QStringLiteral("同じ日付が存在しています。"), vbOKOnly, kTitleAborted);
        return;
    }
    if (!unread.ok()) {
        ReportReadFailure(unread);
        return;
    }
    // Stored first: a date shown in the list but missing from the file would
    // look kept and is not.
    const StoreResult result = m_store.WriteMemo(gstrAddDate, QString::fromUtf8(kPlaceholderMemo));
    if (!result.ok()) {
        ReportFailure(result, Adding);
        return;
    }
    m_seen = m_store.Identity();
    // The selected date stays selected; a shift of its row is no date switch.
    m_fillingList = true;
    List1->insertSorted(gstrAddDate);
    m_fillingList = false;
}

// --- Following the file ------------------------------------------------------

void Form1::FollowTheFile(const FileIdentity &shown)
{
    if (!m_watch) {
        m_watch = new FolderWatch(this);
        m_refresh = new QTimer(this);
        m_conflicts = new QTimer(this);
        for (QTimer *timer : {m_refresh, m_conflicts})
            timer->setSingleShot(true);
        connect(m_watch, &FolderWatch::changed, this, &Form1::FileChanged);
        connect(m_refresh, &QTimer::timeout, this, &Form1::Refresh);
        connect(m_conflicts, &QTimer::timeout, this, &Form1::OfferConflictCopies);
    }
    m_watch->watch(FolderOf(m_store.TargetPath()));
    // What changed while the window was being made is shown once it is.
    m_seen = shown;
    m_refresh->start(150);
}

void Form1::FileChanged(const QByteArray &name)
{
    const QByteArray agendaName = FileNameOf(m_store.NativePath());
    // Several notices come for one change, all but at once: they are
    // taken in one look.
    if (name.isEmpty() || name == agendaName)
        m_refresh->start(30);
    if (name.isEmpty() || ConflictCopyTime(name, agendaName))
        m_conflicts->start(500);
}

void Form1::Refresh()
{
    // Not inside an action, nor under a dialog it opened: its rows stand.
    if (m_waitingForFile || QApplication::activeModalWidget())
        return m_refresh->start(300);
    // Read on another core: a long agenda takes a moment.
    FileIdentity now;
    QStringList keys;
    FileResult failure;
    {
        const WindowStaysAlive alive(m_waitingForFile);
        std::future<void> looked = std::async(std::launch::async, [&, seen = m_seen] {
            now = m_store.Identity();
            if (now.exists && !(now == seen))
                keys = m_store.ListDateKeys(&failure);
        });
        alive.waitFor(looked);
    }
    if (!now.exists && !m_store.NativePath().isEmpty() && m_seen.exists) {
        // A synchroniser may remove the file just before it puts the new one
        // in place: it is gone only if it stays gone.
        if (!m_goneSince.isValid())
            m_goneSince.start();
        if (m_goneSince.elapsed() < 1500)
            return m_refresh->start(1600 - int(m_goneSince.elapsed()));
        if (!m_saidGone)
            MsgBox(this, m_store.DisplayPath()
                       + QStringLiteral("\r\nが見つかりません。ほかのプログラムが削除したか、移動したようです。\r\n"
                                        "一覧はそのまま残しています。保存すると、このファイルを作り直します。"),
                   vbExclamation, kTitleFault);
        m_saidGone = true;
        return;
    }
    m_goneSince.invalidate();
    m_saidGone = false;
    if (!now.exists || now == m_seen)
        return;
    if (!failure.ok())
        return ReportReadFailure(failure);
    m_seen = now;
    ShowDates(keys);
}

void Form1::ShowDates(QStringList keys)
{
    if (!std::is_sorted(keys.begin(), keys.end()))
        std::stable_sort(keys.begin(), keys.end());
    const int current = CurrentIndex();
    const QString currentKey = current >= 0 ? List1->text(current) : QString();
    const bool edited = current >= 0 && Command2->isEnabled();
    // An edited memo keeps its date: the question at saving tells of the change.
    if (edited && !std::binary_search(keys.begin(), keys.end(), currentKey))
        keys.insert(int(std::upper_bound(keys.begin(), keys.end(), currentKey) - keys.begin()), currentKey);
    int row = current;
    if (keys != List1->keys()) {
        const QModelIndex top = List1->indexAt(QPoint(0, 0));
        const QString topKey = top.isValid() ? top.data().toString() : QString();
        m_fillingList = true;
        List1->setSortedKeys(keys);
        row = currentKey.isEmpty() ? -1 : int(std::lower_bound(keys.begin(), keys.end(), currentKey) - keys.begin());
        if (row >= 0 && (row >= keys.size() || keys.at(row) != currentKey))
            row = -1;
        List1->setCurrentRow(row);
        const int topRow = int(std::lower_bound(keys.begin(), keys.end(), topKey) - keys.begin());
        List1->doItemsLayout(); // where the rows are now, before scrolling to one
        if (!topKey.isEmpty() && topRow < keys.size())
            List1->scrollTo(List1->model()->index(topRow, 0), QAbstractItemView::PositionAtTop);
        m_fillingList = false;
    }
    if (edited)
        return;
    // The memo shown is the stored one, as it is now; gone with its date.
    FileResult failure;
    const std::optional<QString> value = row >= 0 ? m_loaded.Load(m_store, currentKey, &failure) : std::nullopt;
    const QString text = value ? DecodeMemo(*value) : QString();
    if (!failure.ok() || text == mstrLoadedText)
        return;
    const int position = Text1->textCursor().position();
    SetEditorText(Text1, text);
    mstrLoadedText = EditorText(Text1);
    QTextCursor cursor = Text1->textCursor();
    cursor.setPosition(std::min(position, int(Text1->toPlainText().size())));
    Text1->setTextCursor(cursor);
    Command2->setEnabled(false);
}

namespace {

QString conflictQuestion(const std::vector<AgendaFile::ConflictCopy> &copies)
{
    QString named;
    for (const AgendaFile::ConflictCopy &copy : copies)
        named += PathForDisplay(copy.path) + QStringLiteral("（%1）\r\n").arg(copy.time);
    return QStringLiteral("同期ソフトが、このファイルと食い違うコピーを残しています。\r\n") + named
        + QStringLiteral("コピーのメモをこのファイルに取り込みますか？\r\n"
                         "（コピーにだけある日付を加え、内容の違うメモは両方をつなげます。コピーは名前を変えて残します。）");
}

// What bringing the copies in did: every date once, however many copies
// held it.
QString mergeReport(QStringList added, QStringList joined, const QStringList &tooLong, const QStringList &kept)
{
    added.removeDuplicates();
    joined.removeDuplicates();
    QString report = QStringLiteral("%1 件の日付を加え、%2 件の日付のメモをつなげました。\r\n").arg(added.size()).arg(joined.size());
    if (!joined.isEmpty())
        report += QStringLiteral("つなげた日付: ") + joined.join(QStringLiteral("、")) + QStringLiteral("\r\n");
    if (!tooLong.isEmpty())
        report += QStringLiteral("次の日付は、つなげると %1 バイトを超えるため、そのままにしました。コピーで確かめてください: ").arg(kMemoSizeLimit)
            + tooLong.join(QStringLiteral("、")) + QStringLiteral("\r\n");
    return report + QStringLiteral("コピーは次の名前で残しています。\r\n") + kept.join(QStringLiteral("\r\n"));
}

} // namespace

void Form1::OfferConflictCopies()
{
    if (m_waitingForFile || QApplication::activeModalWidget()) {
        if (m_conflicts)
            m_conflicts->start(500);
        return;
    }
    StoreResult looked;
    std::vector<AgendaFile::ConflictCopy> copies = m_store.ConflictCopies(&looked.file);
    if (!looked.ok())
        return ReportFailure(looked, LookingForCopies);
    copies.erase(std::remove_if(copies.begin(), copies.end(),
                                [this](const AgendaFile::ConflictCopy &c) { return m_declined.contains(c.path); }),
                 copies.end());
    if (copies.empty())
        return;
    if (MsgBox(this, conflictQuestion(copies), vbYesNo, QStringLiteral("同期の食い違い")) != vbYes) {
        for (const AgendaFile::ConflictCopy &copy : copies)
            m_declined << copy.path; // asked again at the next start
        return;
    }
    QStringList added, joined, tooLong, kept;
    {
        const FileWait wait(m_waitingForFile);
        for (const AgendaFile::ConflictCopy &copy : copies) {
            const AgendaFile::MergeResult merged = m_store.MergeCopy(
                copy, QStringLiteral("【ここから、同期で食い違ったコピー（%1）のメモ】").arg(copy.time));
            if (!merged.store.ok()) {
                ReportFailure(merged.store, merged.written ? SettingAside : Merging);
                break;
            }
            added += merged.outcome.added;
            joined += merged.outcome.joined;
            tooLong += merged.outcome.tooLong;
            kept << PathForDisplay(merged.keptAs);
        }
    }
    Refresh();
    if (!kept.isEmpty())
        MsgBox(this, mergeReport(added, joined, tooLong, kept), vbOKOnly, kTitleDone);
}

// --- Finding -----------------------------------------------------------------

void Form1::FindBox()
{
    Form4 box(this, &m_find, [this] { FindNext(m_find.down); });
    m_findBox = &box;
    box.exec();
    m_findBox = nullptr;
    // Typing goes on where the match is.
    if (Text1->textCursor().hasSelection())
        Text1->setFocus();
}

void Form1::FindNext(bool down)
{
    if (m_find.text.isEmpty())
        return FindBox();
    FindRequest request;
    request.needle = m_find.text;
    request.options = m_find.options;
    request.down = down;
    request.row = CurrentIndex();
    request.memo = Text1->toPlainText();
    const QTextCursor cursor = Text1->textCursor();
    request.cursor = down ? cursor.selectionEnd() : cursor.selectionStart();
    const QStringList keys = List1->keys();
    // Another core reads and searches the file while the window paints: a
    // million dates take a good part of a second.
    FindResult found;
    {
        const WindowStaysAlive alive(m_waitingForFile);
        std::future<FindResult> searched =
            std::async(std::launch::async, [this, &keys, &request] { return tavlo::FindNext(m_store, keys, request); });
        alive.waitFor(searched);
        found = searched.get();
    }
    QWidget *over = m_findBox ? static_cast<QWidget *>(m_findBox) : this;
    if (!found.failure.ok())
        return ReportReadFailure(found.failure);
    if (found.row < 0) {
        MsgBox(over, QStringLiteral("「%1」が見つかりません。").arg(m_find.text), vbOKOnly, kTitleFound);
        return;
    }
    if (ShowMatch(found) && found.wrapped)
        MsgBox(over, down ? QStringLiteral("最後の日付まで検索しました。最初の日付から続けて検索しました。")
                          : QStringLiteral("最初の日付まで検索しました。最後の日付から続けて検索しました。"),
               vbOKOnly, kTitleFound);
}

bool Form1::ShowMatch(const FindResult &found)
{
    QString key = List1->text(found.row);
    if (found.row != CurrentIndex()) {
        if (Command2->isEnabled() && CurrentIndex() >= 0) {
            // The edit would be lost by loading another memo.
            const int answer = MsgBox(m_findBox ? static_cast<QWidget *>(m_findBox) : this,
                                      List1->text(CurrentIndex())
                                          + QStringLiteral("\r\nのメモは変更されています。保存してから次へ進みますか？"),
                                      vbYesNoCancel, QStringLiteral("保存確認"));
            if (answer == vbCancel || (answer == vbYes && !SaveCurrentMemo()))
                return false;
        }
        // A save may have removed a date above it.
        const int row = int(List1->keys().indexOf(key));
        if (row < 0)
            return false;
        SelectItem(row);
    }
    QTextCursor cursor = Text1->textCursor();
    cursor.setPosition(found.inMemo ? int(found.begin) : 0);
    cursor.setPosition(found.inMemo ? int(found.end) : 0, QTextCursor::KeepAnchor);
    Text1->setTextCursor(cursor);
    if (!m_findBox)
        (found.inMemo ? static_cast<QWidget *>(Text1) : List1)->setFocus();
    return true;
}

// --- Text size ---------------------------------------------------------------

void Form1::Command3_Click()
{
    QFont textFont = Text1->font();
    QFont listFont = List1->font();
    if (textFont.pointSizeF() >= 12.0) {
        textFont.setPointSizeF(9.0);
        listFont.setPointSizeF(9.0);
    } else {
        textFont.setPointSizeF(textFont.pointSizeF() + 3.0);
        listFont.setPointSizeF(listFont.pointSizeF() + 3.0);
    }
    Text1->setFont(textFont);
    List1->setFont(listFont);
}

// --- About box ---------------------------------------------------------------

void Form1::Command4_Click()
{
    Form3 about(this);
    about.exec();
}

// --- Exit --------------------------------------------------------------------

void Form1::Command5_Click()
{
    close();
}

void Form1::closeEvent(QCloseEvent *event)
{
    if (!m_waitingForFile && Form_Unload())
        event->accept();
    else
        event->ignore();
}

bool Form1::Form_Unload()
{
    return MsgBox(this, QStringLiteral("終了します。\r\nよろしいですか？"), vbYesNo,
                  QStringLiteral("終了確認"))
        != vbNo;
}

// --- Backup copy -------------------------------------------------------------

void Form1::Command6_Click()
{
    const QByteArray backupPath = BackupPathFor(m_store.NativePath(), Clock::now());
    const QString backup = PathForDisplay(backupPath);
    FileResult result;
    {
        const FileWait wait(m_waitingForFile);
        result = m_store.Backup(backupPath);
    }
    if (result.ok())
        MsgBox(this, backup + QStringLiteral("\r\nという名前で保存しました。"), vbOKOnly,
               kTitleDone);
    else
        MsgBox(this, backup + QStringLiteral("\r\nという名前の保存が失敗しました。\r\n") + WhyItFailed(result),
               vbCritical, kTitleFault);
}

} // namespace tavlo
