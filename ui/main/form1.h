#pragma once
// The main window: the date list, the memo editor and the command buttons.
#include "store/agendafile.h"
#include "store/files/folderwatch.h"
#include "store/loadedmemo.h"
#include "ui/dialogs/form4.h"

#include <QElapsedTimer>
#include <QWidget>

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace tavlo {

class DateList;

// The main window's title; a second start finds the running copy by it.
extern const char *const kMainWindowTitle;

// Stored for every new date until the user writes its memo.
extern const char *const kPlaceholderMemo;

class Form1 : public QWidget
{
    Q_OBJECT

public:
    explicit Form1(const AgendaFile &store, QWidget *parent = nullptr);

    // The add-date dialog's answer: a date key, or empty when cancelled.
    QString gstrAddDate;

    // Adds the start-up scan's keys in one batch, each at its sorted place.
    void AddDateKeys(const QStringList &keys);

    // The selected date's row, or -1 when no date is selected.
    int CurrentIndex() const;

    // Marks the item selected, which makes it current and loads its memo.
    void SelectItem(int index);

    // Shows the window at its normal size and place and brings it forward
    // (a second start asks for this).
    void Restore(const QByteArray &activationToken = QByteArray());

    // Tells the user where the copy of a save that was cut short lies.
    void ReportInterruptedSave(const QByteArray &copyPath);
    // Another program held the file's lock while start-up looked for such a
    // copy: looks again now and then until it can, and tells of one.
    void CheckForInterruptedSaveLater();

    // Tells the user that the agenda file is there but could not be read.
    void ReportReadFailure(const FileResult &failure);

    // From now on the window follows the file as other programs change it
    // (a synchroniser, another machine's copy, an editor): its dates, and
    // the memo shown unless it is being edited. Nothing runs while nothing
    // changes. `shown` is the file the list was filled from.
    void FollowTheFile(const FileIdentity &shown);

    // Offers to bring in the conflict copies a synchroniser left beside the
    // file (one question for all, oldest first), unless declined before.
    void OfferConflictCopies();

    // The memo as it was loaded or last saved; the update button compares
    // the editor with it.
    const QString &LoadedText() const { return mstrLoadedText; }

    DateList *List1;
    QPlainTextEdit *Text1;
    QGroupBox *Frame1;
    QPushButton *Command1;
    QPushButton *Command2;
    QPushButton *Command3;
    QPushButton *Command6;
    QPushButton *Command4;
    QPushButton *Command5;
    QLabel *Label1;

public slots:
    void Command1_Click();
    void Command2_Click();
    void Command3_Click();
    void Command4_Click();
    void Command5_Click();
    void Command6_Click();

    // Ctrl+F: the find box. F3 and Shift+F3: the next and the previous
    // match of the string last looked for (the box, while there is none).
    void FindBox();
    void FindNext(bool down);

protected:
    // Asks the exit question; a close requested while the window waits for
    // the file is refused, so no question opens inside a save.
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void List1_Click();
    void Text1_Change();

private:
    void List1_KeyUp(int KeyCode, int Shift);
    void Text1_KeyDown(int KeyCode, int Shift);
    bool Form_Unload();
    bool IsSameText(const QString &text) const;

    // The update command; true when the memo was written or its date deleted.
    bool SaveCurrentMemo();
    // Removes the item and leaves no item current.
    void RemoveItem(int index);
    enum StoreAction { Saving, Deleting, Adding, Reading, Merging, SettingAside, LookingForCopies };
    void ReportFailure(const StoreResult &result, StoreAction action);
    // Whether the stored memo is still what was loaded, or the user agrees
    // to replace what another program put there.
    bool StoredMemoMayBeReplaced(const QString &key, StoreAction action);
    void CreateControls();
    // Shows a match: its date selected and its memo loaded (asking first
    // about an edited memo), the matched text selected. False when the
    // user chose to stay.
    bool ShowMatch(const FindResult &found);
    void FileChanged(const QByteArray &name);
    // Shows what the file holds now, when another program changed it.
    void Refresh();
    // The list shows `keys`, keeping the selected date, the scroll position
    // and an edited memo's date.
    void ShowDates(QStringList keys);

    AgendaFile m_store;
    QString mstrLoadedText;
    LoadedMemo m_loaded; // the stored memo last read or written, to tell another program's change
    bool m_waitingForFile = false; // another program's lock, or a search, is waited for
    FindSettings m_find;           // what the find box asked last
    Form4 *m_findBox = nullptr;    // while it is open
    FolderWatch *m_watch = nullptr;
    QTimer *m_refresh = nullptr;   // a change seen, to be shown in a moment
    QTimer *m_conflicts = nullptr; // a conflict copy seen, to be offered
    FileIdentity m_seen;           // the file as last shown or written here
    QElapsedTimer m_goneSince;     // since the file went missing
    bool m_saidGone = false;
    QList<QByteArray> m_declined;  // conflict copies not to offer again in this run
    int m_keyPressedInList = 0; // Qt key last pressed while the list had the focus
    int m_strokeShift = 0;      // modifiers held at any moment since that press
    bool m_fillingList = false; // items move, but no date is being chosen
};

} // namespace tavlo
