#include "store/loadedmemo.h"

namespace tavlo {

void LoadedMemo::Remember(const QString &key, const std::optional<QString> &value, const FileIdentity &identity)
{
    m_key = key;
    m_value = value;
    m_identity = identity;
}

std::optional<QString> LoadedMemo::Load(const AgendaFile &store, const QString &key)
{
    m_key = key;
    m_value = store.ReadMemo(key, &m_identity);
    return m_value;
}

bool LoadedMemo::ChangedElsewhere(const AgendaFile &store, const QString &key) const
{
    if (key == m_key && m_identity.exists && store.Identity() == m_identity)
        return false;
    const std::optional<QString> loaded = key == m_key ? m_value : std::nullopt;
    return store.ReadMemo(key) != loaded && store.IsReadable() && store.FolderExists();
}

} // namespace tavlo
