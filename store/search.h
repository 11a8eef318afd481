#pragma once
// Finding a string among the dates and their memos, as a Japanese user
// expects: Latin letters in either case, and the full-width and half-width
// forms of one letter, digit or katakana alike, unless asked to tell them
// apart. A match never spans a line break of a memo.
#include "store/agendafile.h"

#include <QString>
#include <QStringList>
#include <QStringView>

#include <vector>

namespace tavlo {

struct FindOptions {
    bool matchCase = false;  // 大文字と小文字を区別する
    bool matchWidth = false; // 全角と半角を区別する
};

// Where a string was found in a text; begin -1 when it was not.
struct TextMatch {
    qsizetype begin = -1;
    qsizetype end = -1;
    bool found() const { return begin >= 0; }
};

// Going down, the first match of `needle` in `text` that begins at `from` or
// later; going up, the last one that ends at `from` or earlier.
TextMatch FindInText(QStringView text, QStringView needle, qsizetype from, bool down, const FindOptions &options);

struct FindRequest {
    QString needle;
    FindOptions options;
    bool down = true;
    int row = -1;         // the current date's row in the list; -1: none
    QString memo;         // its memo as the editor holds it (line breaks "\n")
    qsizetype cursor = 0; // where in it the search goes on from
};

struct FindResult {
    FileResult failure;      // the file could not be read
    int row = -1;            // the date found; -1: none
    bool inMemo = false;     // in its memo; else the date itself matched
    qsizetype begin = 0;     // the match in the memo as the editor shows it
    qsizetype end = 0;
    bool wrapped = false;    // it went on past the last date (the first, up)
};

// The next match among the dates `keys` (the list, in its order) and their
// memos as the file holds them now, the current date's memo as edited.
// From the current memo's cursor on, date by date, past the end once.
FindResult FindNext(const AgendaFile &store, const QStringList &keys, const FindRequest &request);

} // namespace tavlo
