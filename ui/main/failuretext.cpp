#include "ui/main/failuretext.h"

#include "store/codepage.h"

#include <cstring>

namespace tavlo {
namespace {

// The system's words, for a failure ours can only name in general.
QString systemWords(int err)
{
    return err == 0 ? QString() : QStringLiteral("\r\n（%1）").arg(QString::fromLocal8Bit(std::strerror(err)));
}

} // namespace

QString WhyItFailed(const FileResult &result)
{
    switch (result.error) {
    case FileError::None: return QString();
    case FileError::NotFound:
        return QStringLiteral("ファイルがまだありません。日付を追加すると作られます。");
    case FileError::Unreadable:
        return QStringLiteral("このファイルを読む権限がありません。ファイルの所有者と権限を確かめてください。");
    case FileError::ReadOnlyFile:
        return QStringLiteral("ファイルが読み取り専用になっています。書き込めるようにしてから、もう一度操作してください。");
    case FileError::FolderNotWritable:
        return QStringLiteral("ファイルのあるフォルダーに書き込む権限がありません。フォルダーの権限を確かめてください。");
    case FileError::ReadOnlyFileSystem:
        return QStringLiteral("ファイルのあるディスクが読み取り専用です。書き込めるようにしてから、もう一度操作してください。");
    case FileError::FolderMissing:
        return QStringLiteral("ファイルのあるフォルダーが見つかりません。外付けのディスクやネットワーク上のフォルダーなら、"
                              "つながっているか確かめてください。");
    case FileError::FolderUnusable:
        return QStringLiteral("ファイルまでの途中に、フォルダーでないもの（同じ名前のファイルや、循環するリンク）があります。"
                              "その場所を確かめてください。");
    case FileError::DiskFull:
        return QStringLiteral("ディスクの空き容量が足りません。空きを作ってから、もう一度操作してください。");
    case FileError::IoError:
        return QStringLiteral("ディスクの読み書きに失敗しました。ディスクやネットワークの接続を確かめてください。")
            + systemWords(result.sysErrno);
    case FileError::NotAFile:
        return QStringLiteral("同じ名前のフォルダーなどがあり、ファイルとして扱えません。");
    case FileError::TooLarge:
        return QStringLiteral("ファイルが大きすぎて扱えません。");
    case FileError::Exists:
        return QStringLiteral("同じ名前のファイルがすでにあります。1 秒ほど待ってから、もう一度操作してください。");
    case FileError::Mismatch:
        return QStringLiteral("書き込んだ内容を読み返すと、元の内容と一致しませんでした。ディスクに問題があるおそれがあります。");
    case FileError::Changed:
        return QStringLiteral("書き込んでいるあいだに、ほかのプログラムがファイルを変更しました。もう一度操作してください。");
    case FileError::Busy:
        return QStringLiteral("ほかのプログラムがこのファイルを使用中です。しばらくしてから、もう一度操作してください。");
    case FileError::CopyLeft:
        return QStringLiteral("前回中断した保存の前の内容が、次のファイルに残っています。\r\n") + InterruptedSaveCopy(result.journal);
    case FileError::RestoreFailed:
        return QStringLiteral("書き込みに失敗し、元の内容にも戻せませんでした。ファイルが壊れているおそれがあります。"
                              "保存する前の内容は次のファイルにあります。\r\n")
            + PathForDisplay(result.journal);
    case FileError::Other: break;
    }
    return QStringLiteral("予期しないエラーが起きました。") + systemWords(result.sysErrno);
}

QString WhyItFailed(const StoreResult &result)
{
    switch (result.refusal) {
    case StoreRefusal::None: return WhyItFailed(result.file);
    case StoreRefusal::IsProgram:
        return QStringLiteral("このファイルはプログラム自身です。プログラムを壊さないよう、書き込みません。");
    case StoreRefusal::InvalidKey:
        return QStringLiteral("この日付の名前は、ファイルの中で書き換えられない形をしています。");
    case StoreRefusal::Unmappable:
        return QStringLiteral("次の文字はファイルに保存できません。\r\n") + result.unmappable;
    case StoreRefusal::LineBreak:
        return QStringLiteral("改行を含む名前や内容は、ファイルに書き込めません。");
    }
    return QString();
}

QString InterruptedSaveCopy(const QByteArray &copyPath)
{
    return PathForDisplay(copyPath) + QStringLiteral("\r\n内容を確かめて、このファイルを別の場所へ移すまで保存できません。");
}

} // namespace tavlo
