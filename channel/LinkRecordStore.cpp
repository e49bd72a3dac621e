#include "channel/LinkRecordStore.h"

#include "channel/ClassroomStateFrame.h"

#include <algorithm>

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
        m_hashes[slot] = HashLinkName(FieldText(record.name));
        ++m_count;
    }
    m_slots[slot] = record;
    return true;
}

void CLinkRecordStore::KeepOnly(const LinkNameHash* kept, int keptCount)
{
    std::lock_guard<std::mutex> guard(m_lock);
    int count = 0;
    for (int slot = 0; slot < m_count; ++slot) {
        if (std::find(kept, kept + keptCount, m_hashes[slot]) == kept + keptCount)
            continue;
        if (slot != count) {
            m_slots[count] = m_slots[slot];
            m_keys[count] = m_keys[slot];
            m_hashes[count] = m_hashes[slot];
        }
        ++count;
    }
    m_count = count;
}

bool CLinkRecordStore::DigestListed(const ClassroomState& state, CatalogueDigest& digest) const
{
    static const LinkNameHash homeHash = HashLinkName("home");
    std::lock_guard<std::mutex> guard(m_lock);
    const auto slotOf = [this](const LinkNameHash& hash) -> const LinkRecord* {
        const LinkNameHash* found = std::find(m_hashes, m_hashes + m_count, hash);
        return found == m_hashes + m_count ? nullptr : &m_slots[found - m_hashes];
    };
    const LinkRecord* home = state.hasHome ? slotOf(homeHash) : nullptr;
    if (state.hasHome && home == nullptr)
        return false;
    const int listedCount = std::clamp(state.linkCount, 0, kMaxLinks);
    const LinkRecord* listed[kMaxLinks];
    for (int i = 0; i < listedCount; ++i) {
        listed[i] = slotOf(state.nameHashes[i]);
        if (listed[i] == nullptr)
            return false;
    }
    digest = DigestCatalogue(home, listed, listedCount);
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
