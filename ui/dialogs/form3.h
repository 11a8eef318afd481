#pragma once
// The About box.
#include <QDialog>

class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;

namespace tavlo {

class Form3 : public QDialog
{
    Q_OBJECT

public:
    explicit Form3(QWidget *owner);

    QGroupBox *Frame1;
    QLabel *Label1;
    QPushButton *Command1;
    QLabel *Label4;
    QGroupBox *Frame2;
    QPlainTextEdit *Text1;

public slots:
    void Command1_Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Form_Load();
};

} // namespace tavlo
