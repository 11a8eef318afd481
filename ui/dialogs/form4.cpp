#include "ui/dialogs/form4.h"

#include "ui/classic/fonts.h"
#include "ui/dialogs/dialogsetup.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace tavlo {

Form4::Form4(QWidget *owner, FindSettings *settings, std::function<void()> findNext)
    : QDialog(owner), m_settings(settings), m_findNext(std::move(findNext))
{
    SetUpDialog(this, QStringLiteral("検索"), 6780, 1800);

    Label1 = new QLabel(QStringLiteral("検索する文字列(&N):"), this);
    Label1->setGeometry(Twips(120), Twips(195), Twips(1620), Twips(240));
    Text1 = new QLineEdit(settings->text, this);
    Text1->setGeometry(Twips(1740), Twips(150), Twips(3360), Twips(300));
    Text1->setAccessibleName(QStringLiteral("検索する文字列"));
    Label1->setBuddy(Text1);

    Command1 = new QPushButton(QStringLiteral("次を検索(&F)"), this);
    Command1->setGeometry(Twips(5280), Twips(120), Twips(1380), Twips(345));
    Command1->setDefault(true);
    Command1->setAccessibleName(QStringLiteral("次を検索"));
    Command2 = new QPushButton(QStringLiteral("キャンセル"), this);
    Command2->setGeometry(Twips(5280), Twips(540), Twips(1380), Twips(345));
    Command2->setAutoDefault(true);
    Command2->setAccessibleName(Command2->text());

    Frame1 = new QGroupBox(QStringLiteral("方向"), this);
    Frame1->setGeometry(Twips(3120), Twips(600), Twips(1980), Twips(855));
    const char *const ways[2] = {"上へ(&U)", "下へ(&D)"};
    for (int i = 0; i < 2; ++i) {
        Option1[i] = new QRadioButton(QString::fromUtf8(ways[i]), Frame1);
        Option1[i]->setGeometry(Twips(120 + 900 * i), Twips(360), Twips(900), Twips(300));
        Option1[i]->setAccessibleName(QString::fromUtf8(ways[i]).left(2));
    }
    Option1[settings->down ? 1 : 0]->setChecked(true);

    Check1 = new QCheckBox(QStringLiteral("大文字と小文字を区別する(&C)"), this);
    Check1->setGeometry(Twips(120), Twips(1020), Twips(2940), Twips(300));
    Check1->setChecked(settings->options.matchCase);
    Check1->setAccessibleName(QStringLiteral("大文字と小文字を区別する"));
    Check2 = new QCheckBox(QStringLiteral("全角と半角を区別する(&W)"), this);
    Check2->setGeometry(Twips(120), Twips(1380), Twips(2940), Twips(300));
    Check2->setChecked(settings->options.matchWidth);
    Check2->setAccessibleName(QStringLiteral("全角と半角を区別する"));

    setTabOrder(Text1, Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Option1[0]);
    setTabOrder(Option1[0], Option1[1]);
    setTabOrder(Option1[1], Check1);
    setTabOrder(Check1, Check2);

    connect(Command1, &QPushButton::clicked, this, &Form4::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form4::Command2_Click);
    connect(Text1, &QLineEdit::textChanged, this, &Form4::Text1_Change);
    Text1_Change();
}

void Form4::Text1_Change()
{
    // Nothing to find in an empty string.
    Command1->setEnabled(!Text1->text().isEmpty());
}

void Form4::Command1_Click()
{
    if (Text1->text().isEmpty())
        return;
    m_settings->text = Text1->text();
    m_settings->down = Option1[1]->isChecked();
    m_settings->options.matchCase = Check1->isChecked();
    m_settings->options.matchWidth = Check2->isChecked();
    m_findNext();
}

void Form4::Command2_Click()
{
    reject();
}

void Form4::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    CentreOnOwner(this);
    // The string last looked for, ready to be typed over.
    Text1->setFocus(Qt::TabFocusReason);
    Text1->selectAll();
}

} // namespace tavlo
