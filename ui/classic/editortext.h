#pragma once
// The handlers see an editor's text with CR LF line breaks; Qt's editors use
// "\n". This is the one place where the two meet.
#include <QString>

class QPlainTextEdit;

namespace tavlo {

QString EditorText(const QPlainTextEdit *editor);
void SetEditorText(QPlainTextEdit *editor, const QString &text);

// The conversions themselves.
QString ToCrLf(const QString &text);
QString FromCrLf(const QString &text);

} // namespace tavlo
