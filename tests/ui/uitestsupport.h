#pragma once
// Widget-test helpers: a recorder behind the message-box seam, answering a
// modal dialog once it is the active modal widget, and a main window over an
// agenda file in a temporary folder.
#include "testsupport.h"
#include "platform/clock.h"
#include "ui/classic/fonts.h"
#include "ui/main/datelist.h"
#include "ui/main/form1.h"
#include "ui/dialogs/form2.h"
#include "ui/classic/messagebox.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTest>

#include <functional>
#include <memory>

namespace tavlo::test {

// Answers every message box with `answer` and keeps each, as
// "title|style|text".
class MsgBoxRecorder
{
public:
    explicit MsgBoxRecorder(int answer = vbOK)
    {
        SetMsgBoxHandler([this, answer](QWidget *, const QString &text, int style, const QString &title) {
            shown << QStringList{title, QString::number(style), text}.join(QLatin1Char('|'));
            return answer;
        });
    }
    ~MsgBoxRecorder() { SetMsgBoxHandler({}); }

    QStringList shown;
};

// Runs `action` once on the next modal widget that becomes active (polling,
// as Qt's own tests do), for as long as this object lives.
class AnswerModal
{
public:
    explicit AnswerModal(std::function<void(QWidget *)> action) : m_timer(std::make_unique<QTimer>())
    {
        QTimer *timer = m_timer.get();
        timer->setInterval(5);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, action] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                timer->stop();
                action(modal);
            }
        });
        timer->start();
    }

private:
    std::unique_ptr<QTimer> m_timer;
};

// Answers the add-date dialog with the given date, or goes back when empty.
AnswerModal AnswerDialog(const QString &year, const QString &month, const QString &day)
{
    return AnswerModal([=](QWidget *w) {
        auto *d = qobject_cast<Form2 *>(w);
        if (!d)
            return;
        if (year.isEmpty())
            return QTest::mouseClick(d->Command2, Qt::LeftButton);
        d->Text1[0]->setText(year);
        d->Text1[1]->setText(month);
        d->Text1[2]->setText(day);
        QTest::keyClick(d->Text1[2], Qt::Key_Return);
    });
}
// A main window over tavlo.txt in a fresh temporary folder, started the way
// the program starts (filled, shown, first date selected).
class MainWindowFixture
{
public:
    explicit MainWindowFixture(const QByteArray &agenda = QByteArray())
    {
        if (!agenda.isNull())
            writeBytes(path(), agenda);
    }

    QString path() const { return m_dir.filePath(QStringLiteral("tavlo.txt")); }
    QString folder() const { return m_dir.path(); }

    // Builds and shows the window; with an empty list the caller must be
    // ready to answer the add-date dialog.
    Form1 &start()
    {
        m_form = std::make_unique<Form1>(agendaAt(path()));
        m_form->AddDateKeys(agendaAt(path()).ListDateKeys());
        m_form->show();
        if (m_form->List1->count() > 0)
            m_form->SelectItem(0);
        QApplication::setActiveWindow(m_form.get());
        return *m_form;
    }

    QStringList listTexts() const
    {
        QStringList out;
        for (int i = 0; i < m_form->List1->count(); ++i)
            out << m_form->List1->text(i);
        return out;
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Form1> m_form;
};

} // namespace tavlo::test
