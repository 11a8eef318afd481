#pragma once
// The find box: the string to find, which way, and how alike is alike.
#include "store/search.h"

#include <QDialog>

#include <functional>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;

namespace tavlo {

// What the find box asks, kept for as long as the program runs.
struct FindSettings {
    QString text;
    FindOptions options;
    bool down = true;
};

class Form4 : public QDialog
{
    Q_OBJECT

public:
    // Each 次を検索 stores what is filled in into `settings` and runs
    // `findNext`; the box stays open for the next one.
    Form4(QWidget *owner, FindSettings *settings, std::function<void()> findNext);

    QLabel *Label1;
    QLineEdit *Text1;
    QPushButton *Command1;
    QPushButton *Command2;
    QGroupBox *Frame1;
    QRadioButton *Option1[2]; // up, down
    QCheckBox *Check1;
    QCheckBox *Check2;

public slots:
    void Command1_Click();
    void Command2_Click();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Text1_Change();

    FindSettings *m_settings;
    std::function<void()> m_findNext;
};

} // namespace tavlo
