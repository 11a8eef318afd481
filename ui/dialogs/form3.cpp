#include "ui/dialogs/form3.h"

#include "ui/classic/editortext.h"
#include "ui/classic/fonts.h"
#include "ui/dialogs/dialogsetup.h"

#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace tavlo {

namespace {

// The credits' first line: the Qt version the program runs on and the
// compiler that built it.
QString buildToolLine()
{
#if defined(__clang__)
    const QString compiler = QStringLiteral("Clang %1.%2.%3").arg(__clang_major__).arg(__clang_minor__).arg(__clang_patchlevel__);
#elif defined(__GNUC__)
    const QString compiler = QStringLiteral("GCC %1.%2.%3").arg(__GNUC__).arg(__GNUC_MINOR__).arg(__GNUC_PATCHLEVEL__);
#else
    const QString compiler = QStringLiteral("C++");
#endif
    return QStringLiteral("Qt %1 / %2").arg(QString::fromLatin1(qVersion()), compiler);
}

} // namespace

Form3::Form3(QWidget *owner) : QDialog(owner)
{
    SetUpDialog(this, QStringLiteral("バージョン情報"), 4575, 4050);

    Frame1 = new QGroupBox(this);
    Frame1->setGeometry(Twips(240), Twips(420), Twips(4095), Twips(1995));

    Label1 = new QLabel(QStringLiteral("Tavlo.exe\u3000Ver 1.00 (2003.12.26)"), this);
    Label1->setGeometry(Twips(120), Twips(120), Twips(4335), Twips(255));
    Label1->setFont(WindowFont(9.75));
    Label1->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    Command1 = new QPushButton(QStringLiteral("戻る"), Frame1);
    Command1->setGeometry(Twips(300), Twips(1560), Twips(3495), Twips(315));
    Command1->setDefault(true);
    Command1->setAccessibleName(Command1->text());

    Label4 = new QLabel(Frame1);
    Label4->setGeometry(Twips(180), Twips(240), Twips(3735), Twips(1215));
    Label4->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label4->setWordWrap(true); // the third line is wider than the label

    Frame2 = new QGroupBox(this);
    Frame2->setGeometry(Twips(120), Twips(2460), Twips(4335), Twips(1515));

    Text1 = new QPlainTextEdit(Frame2);
    Text1->setGeometry(Twips(120), Twips(180), Twips(4095), Twips(1215));
    Text1->setReadOnly(true);
    Text1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Text1->setTabChangesFocus(true);
    Text1->setAccessibleName(QStringLiteral("作成者情報"));
    QPalette palette = Text1->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::Button));
    Text1->setPalette(palette);

    setTabOrder(Command1, Text1);
    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);

    Form_Load();
}

void Form3::Form_Load()
{
    const QString crlf = QStringLiteral("\r\n");
    Label4->setText(FromCrLf(
        QStringLiteral("このプログラムは。") + crlf + crlf
        + QStringLiteral("\u3000日付ごとにメモ書き（スケジュール）を残すためのプログラムです。") + crlf
        + QStringLiteral("\u3000詳しくは「読んで☆.txt」をご覧下さい。")));
    SetEditorText(Text1, buildToolLine() + crlf
                             + QStringLiteral("Copyright (C) 2003 The Tavlo Project") + crlf + crlf
                             + QStringLiteral("E -mail: tavlo@example.org") + crlf
                             + QStringLiteral("URL : https://tavlo.example.org/"));
}

void Form3::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    CentreOnOwner(this);
    Command1->setFocus(Qt::TabFocusReason);
}

void Form3::Command1_Click()
{
    accept();
}

} // namespace tavlo
