#include "store/loadedmemo.h"

namespace tavlo {

void LoadedMemo::Remember(const QString &key, const std::optional<QString> &value, const FileIdentity &identity)
{
    m_key = key;
    m_value = value;
    m_identity = identity;
}

std::optional<QString> LoadedMemo::Load(const AgendaFile &store, const QString &key, FileResult *failure)
{
    FileResult result;
    m_key = key;
    m_value = store.ReadMemo(key, &m_identity, &result);
    if (!result.ok())
        m_identity = FileIdentity{}; // nothing was read: the next question reads again
    if (failure)
        *failure = result;
    return m_value;
}

bool LoadedMemo::ChangedElsewhere(const AgendaFile &store, const QString &key, FileResult *failure) const
{
    *failure = FileResult{};
    if (key == m_key && m_identity.exists && store.Identity() == m_identity)
        return false;
    const std::optional<QString> loaded = key == m_key ? m_value : std::nullopt;
    const std::optional<QString> now = store.ReadMemo(key, nullptr, failure);
    return failure->ok() && now != loaded && store.FolderExists();
}

} // namespace tavlo
