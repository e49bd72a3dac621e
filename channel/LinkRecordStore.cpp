#include "channel/LinkRecordStore.h"

namespace kestrel {

bool CLinkRecordStore::AddRecord(const LinkRecord& record)
{
    const LinkNameKey key(FieldText(record.name));
    if (key.Empty())
        return false;

    std::lock_guard<std::mutex> guard(m_lock);
    int slot = 0;
    while (slot < m_count && !(m_keys[slot] == key))
        ++slot;
    if (slot >= kCapacity)
        return false;
    if (slot == m_count) {
        m_keys[slot] = key;
        ++m_count;
    }
    m_slots[slot] = record;
    return true;
}

int CLinkRecordStore::GetCount() const
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_count;
}

bool CLinkRecordStore::GetRecord(int index, LinkRecord& record) const
{
    std::lock_guard<std::mutex> guard(m_lock);
    if (index < 0 || index >= m_count)
        return false;
    record = m_slots[index];
    return true;
}

} // namespace kestrel
