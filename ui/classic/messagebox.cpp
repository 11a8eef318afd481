#include "ui/classic/messagebox.h"

#include "ui/classic/editortext.h"
#include "ui/style/windowframe.h"

#include <QMessageBox>
#include <QPushButton>

namespace tavlo {
namespace {

MsgBoxHandler &handler()
{
    static MsgBoxHandler h;
    return h;
}

// Sized only once it is shown, so it is centred then.
class Box : public QMessageBox
{
public:
    explicit Box(QWidget *parent) : QMessageBox(parent) { UseDialogFrame(this); }

protected:
    void showEvent(QShowEvent *event) override
    {
        QMessageBox::showEvent(event);
        CentreOnOwner(this);
    }
};

int showRealMessageBox(QWidget *parent, const QString &text, int style, const QString &title)
{
    Box box(parent);
    box.setWindowTitle(title);
    box.setText(FromCrLf(text));
    box.setTextFormat(Qt::PlainText);
    switch (style & 0xF0) {
    case vbCritical: box.setIcon(QMessageBox::Critical); break;
    case vbExclamation: box.setIcon(QMessageBox::Warning); break;
    default: box.setIcon(QMessageBox::NoIcon); break;
    }
    if ((style & 0x0F) == vbYesNo || (style & 0x0F) == vbYesNoCancel) {
        QPushButton *yes = box.addButton(QStringLiteral("はい(&Y)"), QMessageBox::YesRole);
        QPushButton *no = box.addButton(QStringLiteral("いいえ(&N)"), QMessageBox::NoRole);
        QPushButton *cancel = (style & 0x0F) == vbYesNoCancel
            ? box.addButton(QStringLiteral("キャンセル"), QMessageBox::RejectRole)
            : nullptr;
        box.setDefaultButton((style & vbDefaultButton2) ? no : yes);
        box.setEscapeButton(cancel ? cancel : no);
        box.exec();
        return box.clickedButton() == yes ? vbYes : box.clickedButton() == no ? vbNo : vbCancel;
    }
    QPushButton *ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    box.exec();
    return vbOK;
}

} // namespace

int MsgBox(QWidget *parent, const QString &text, int style, const QString &title)
{
    if (handler())
        return handler()(parent, text, style, title);
    return showRealMessageBox(parent, text, style, title);
}

MsgBoxHandler SetMsgBoxHandler(MsgBoxHandler h)
{
    MsgBoxHandler previous = std::move(handler());
    handler() = std::move(h);
    return previous;
}

} // namespace tavlo
