#include "ui/dialogs/form2.h"

#include "platform/clock.h"
#include "ui/classic/fonts.h"
#include "ui/classic/messagebox.h"
#include "ui/dialogs/dialogsetup.h"

#include <QDate>
#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>

namespace tavlo {

namespace {

// The boxes are as small as their widest value. Styles that pad line edits
// generously (Adwaita) would leave "2026" showing as "026": the box gives
// back from its padding what the text lacks.
void fitText(QLineEdit *box, const QString &widest)
{
    box->ensurePolished(); // the style's padding is set when it polishes the box
    QStyleOptionFrame opt;
    opt.initFrom(box);
    opt.rect = box->rect();
    opt.lineWidth = box->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, box);
    const QMargins margins = box->textMargins(); // where some styles put their padding
    const int room = box->style()->subElementRect(QStyle::SE_LineEditContents, &opt, box).width() - margins.left()
        - margins.right() - 2 * 2; // QLineEdit keeps two pixels clear each side
    const int lacking = box->fontMetrics().horizontalAdvance(widest) - room;
    if (lacking > 0)
        box->setTextMargins(margins.left() - (lacking + 1) / 2, margins.top(), margins.right() - (lacking + 1) / 2,
                            margins.bottom());
}

} // namespace

Form2::Form2(QWidget *owner, QString *addDate) : QDialog(owner), m_addDate(addDate)
{
    SetUpDialog(this, QStringLiteral("年月日追加"), 2505, 1245);

    Label1 = new QLabel(QStringLiteral("日付を入力してください。"), this);
    Label1->setGeometry(Twips(120), Twips(120), Twips(2220), Twips(240));

    struct Box { int left, width, maxLength, labelLeft; const char *unit; const char *name; };
    const Box boxes[3] = {{120, 555, 4, 780, "年", "年"},
                          {1080, 315, 2, 1500, "月", "月"},
                          {1800, 315, 2, 2220, "日", "日"}};
    for (int i = 0; i < 3; ++i) {
        Text1[i] = new QLineEdit(this);
        Text1[i]->setGeometry(Twips(boxes[i].left), Twips(420), Twips(boxes[i].width), Twips(270));
        Text1[i]->setMaxLength(boxes[i].maxLength); // typed and pasted alike
        Text1[i]->setAccessibleName(QString::fromUtf8(boxes[i].name));
        Text1[i]->installEventFilter(this);
        Label2[i] = new QLabel(QString::fromUtf8(boxes[i].unit), this);
        Label2[i]->setGeometry(Twips(boxes[i].labelLeft), Twips(480), Twips(195), Twips(240));
        Label2[i]->setBuddy(Text1[i]); // a screen reader names the box by its unit
    }

    Frame1 = new QGroupBox(this);
    Frame1->setGeometry(Twips(1080), Twips(780), Twips(1335), Twips(435));
    Command1 = new QPushButton(QStringLiteral("追加"), Frame1);
    Command1->setGeometry(Twips(60), Twips(60), Twips(555), Twips(315));
    Command1->setDefault(true);
    Command1->setAccessibleName(Command1->text());
    Command2 = new QPushButton(QStringLiteral("戻る"), Frame1);
    Command2->setGeometry(Twips(720), Twips(60), Twips(555), Twips(315));
    // 追加 is the default; 戻る takes Enter while it has the focus.
    Command2->setAutoDefault(true);
    Command2->setAccessibleName(Command2->text());

    setTabOrder(Text1[0], Text1[1]);
    setTabOrder(Text1[1], Text1[2]);
    setTabOrder(Text1[2], Command1);
    setTabOrder(Command1, Command2);

    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form2::Command2_Click);

    Form_Load();
    Text1[0]->setFocus(Qt::TabFocusReason);
}

void Form2::Form_Load()
{
    const QDate today = Clock::now().date();
    Text1[0]->setText(QString::number(today.year()));
    Text1[1]->setText(QString::number(today.month()));
    Text1[2]->setText(QString::number(today.day()));
}

void Form2::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    CentreOnOwner(this);
    // Only a polished box knows its style's padding.
    for (QLineEdit *box : Text1)
        fitText(box, QStringLiteral("2026").left(box->maxLength()));
    Text1[0]->setFocus(Qt::TabFocusReason);
}

bool Form2::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        for (int i = 0; i < 3; ++i)
            if (watched == Text1[i])
                Text1_GotFocus(i);
    }
    return QDialog::eventFilter(watched, event);
}

void Form2::Text1_GotFocus(int Index)
{
    QLineEdit *box = Text1[Index];
    box->selectAll();
    // A mouse click places the cursor after the focus arrives; select again
    // once the click has been handled.
    QTimer::singleShot(0, box, [box] {
        if (box->hasFocus())
            box->selectAll();
    });
}

void Form2::ReportInvalid(const QString &message, int focusIndex)
{
    MsgBox(this, message, vbCritical, QStringLiteral("処理中断"));
    Text1[focusIndex]->setFocus(Qt::OtherFocusReason);
    Text1_GotFocus(focusIndex);
}

void Form2::Command1_Click()
{
    const DateCheck check =
        CheckDate(Text1[0]->text(), Text1[1]->text(), Text1[2]->text(), Clock::now().date().year());
    if (check.key.isEmpty())
        return ReportInvalid(check.message, check.box);
    *m_addDate = check.key;
    accept();
}

void Form2::Command2_Click()
{
    m_addDate->clear();
    QDialog::reject();
}

void Form2::reject()
{
    // Escape and the window frame's close both come here; both go back.
    Command2_Click();
}

} // namespace tavlo
