#pragma once
// The add-date dialog: asks for a year, a month and a day.
#include "ui/dialogs/datecheck.h"

#include <QDialog>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace tavlo {

class Form2 : public QDialog
{
    Q_OBJECT

public:
    // `addDate` is the main window's answer string: set to the date key on
    // success, to "" on going back, and left alone otherwise.
    Form2(QWidget *owner, QString *addDate);

    QLabel *Label1;
    QLineEdit *Text1[3];
    QLabel *Label2[3];
    QGroupBox *Frame1;
    QPushButton *Command1;
    QPushButton *Command2;

public slots:
    void Command1_Click();
    void Command2_Click();
    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    void Form_Load();
    void Text1_GotFocus(int Index);
    void ReportInvalid(const QString &message, int focusIndex);

    QString *m_addDate;
};

} // namespace tavlo
