#pragma once
// Whether a memo in the file was changed by another program since this
// window last read or wrote it: the one place that decides when to ask
// before a save or a deletion replaces it. A change that lands while the
// save itself runs is no question for the user: the file layer notices it
// (FileError::Changed) and the store makes the edit again on what is there.
#include "store/agendafile.h"

#include <optional>

namespace tavlo {

class LoadedMemo
{
public:
    // What the window read or wrote for `key`, and the file as it was then.
    void Remember(const QString &key, const std::optional<QString> &value, const FileIdentity &identity);

    // Reads `key` from `store` into this and returns it; `failure` tells a
    // file that could not be read from a memo that is not there.
    std::optional<QString> Load(const AgendaFile &store, const QString &key, FileResult *failure = nullptr);

    // Whether the memo of `key` in `store` differs from what was remembered
    // (for another key: whether it exists at all). The same file, unchanged
    // since, is not read again; a folder that is gone is no change (the
    // write reports it). A file that cannot be read is no answer: `failure`
    // says why, and nothing may be written over what could not be read.
    bool ChangedElsewhere(const AgendaFile &store, const QString &key, FileResult *failure) const;

private:
    QString m_key;
    std::optional<QString> m_value;
    FileIdentity m_identity;
};

} // namespace tavlo
