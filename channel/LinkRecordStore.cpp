#include "channel/LinkRecordStore.h"

#include "channel/FrameFormat.h"

#include <cstddef>
#include <cstring>

namespace kestrel {

bool CLinkRecordStore::AddRecord(const LinkRecord& record)
{
    return Store(LinkNameKey(FieldText(record.name)), [&record](InvertedRecord& slot) {
        CopyInverted(reinterpret_cast<const unsigned char*>(&record), sizeof slot, slot);
    });
}

bool CLinkRecordStore::AddInvertedRecord(const unsigned char* inverted)
{
    char name[sizeof(LinkRecord::name)];
    CopyInverted(inverted + offsetof(LinkRecord, name), sizeof name, reinterpret_cast<unsigned char*>(name));
    return Store(LinkNameKey(FieldText(name)),
                 [inverted](InvertedRecord& slot) { std::memcpy(slot, inverted, sizeof slot); });
}

template <typename FillSlot>
bool CLinkRecordStore::Store(const LinkNameKey& key, FillSlot&& fillSlot)
{
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
    fillSlot(m_slots[slot]);
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
    CopyInverted(m_slots[index], sizeof record, reinterpret_cast<unsigned char*>(&record));
    return true;
}

} // namespace kestrel
