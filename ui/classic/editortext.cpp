#include "ui/classic/editortext.h"

#include <QPlainTextEdit>

namespace tavlo {

QString ToCrLf(const QString &text)
{
    QString out = text;
    out.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return out;
}

QString FromCrLf(const QString &text)
{
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return out;
}

QString EditorText(const QPlainTextEdit *editor)
{
    return ToCrLf(editor->toPlainText());
}

void SetEditorText(QPlainTextEdit *editor, const QString &text)
{
    editor->setPlainText(FromCrLf(text));
}

} // namespace tavlo
