// The fetches ahead of a run and the budget they share.
#include "web/fetchesahead.h"

std::shared_ptr<AheadShare> runAheadShare(RunState& state)
{
    if (!state.aheadShare)
        state.aheadShare = std::make_shared<AheadShare>();
    return state.aheadShare;
}

void AheadShare::join(const Slot* fetch, const void* owner, const QByteArray& wireUrl, bool onDisk)
{
    std::lock_guard lock(m_mutex);
    const auto [place, added]
        = m_fetches.try_emplace(fetch, Entry { owner, serverOfWire(wireUrl), 0, onDisk, true });
    if (!added)
        return;
    ++m_unfinished[{ place->second.server, owner }];
    ++m_unfinishedOf[owner];
}

AheadShare::Entry* AheadShare::entryOf(const Slot* fetch)
{
    const auto found = m_fetches.find(fetch);
    return found == m_fetches.end() ? nullptr : &found->second;
}

void AheadShare::finished(const Slot* fetch)
{
    std::lock_guard lock(m_mutex);
    if (Entry* entry = entryOf(fetch))
        end(*entry);
}

void AheadShare::end(Entry& entry)
{
    if (!std::exchange(entry.unfinished, false))
        return;
    const auto atServer = m_unfinished.find({ entry.server, entry.owner });
    if (atServer != m_unfinished.end() && --atServer->second == 0)
        m_unfinished.erase(atServer);
    const auto counted = m_unfinishedOf.find(entry.owner);
    if (counted != m_unfinishedOf.end() && --counted->second == 0)
        m_unfinishedOf.erase(counted);
}

void AheadShare::leave(const Slot* fetch)
{
    std::lock_guard lock(m_mutex);
    const auto found = m_fetches.find(fetch);
    if (found == m_fetches.end())
        return;
    release(found->second);
    end(found->second);
    m_fetches.erase(found);
}

void AheadShare::giveBack(const Slot* fetch)
{
    std::lock_guard lock(m_mutex);
    if (Entry* entry = entryOf(fetch))
        release(*entry);
}

void AheadShare::release(Entry& entry)
{
    m_claimed[entry.onDisk] -= std::exchange(entry.claimed, 0);
}

bool AheadShare::admit(const Slot* fetch, qint64 more)
{
    std::lock_guard lock(m_mutex);
    Entry* const found = entryOf(fetch);
    if (!found)
        return true;
    Entry& entry = *found;
    const qint64 room = entry.onDisk ? fileBudgetLocked() : budget;
    qint64& claimed = m_claimed[entry.onDisk];
    if (claimed + more > room)
        return false;
    entry.claimed += more;
    claimed += more;
    m_peak[entry.onDisk] = qMax(m_peak[entry.onDisk], claimed);
    return true;
}

void AheadShare::setDiskRoom(qint64 bytes)
{
    std::lock_guard lock(m_mutex);
    m_diskRoom = bytes;
}

void AheadShare::setFileLimit(qint64 bytes)
{
    std::lock_guard lock(m_mutex);
    m_fileLimit = bytes;
}

qint64 AheadShare::fileBudget() const
{
    std::lock_guard lock(m_mutex);
    return fileBudgetLocked();
}

qint64 AheadShare::fileBudgetLocked() const
{
    return m_diskRoom < 0 ? m_fileLimit : qMin(m_fileLimit, m_diskRoom / 4);
}

qint64 AheadShare::peakClaimedBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_peak[false];
}

qint64 AheadShare::peakFileBytes() const
{
    std::lock_guard lock(m_mutex);
    return m_peak[true];
}

qint64 AheadShare::claimedBytes(bool onDisk) const
{
    std::lock_guard lock(m_mutex);
    return m_claimed[onDisk];
}

qsizetype AheadShare::unfinishedAt(const QByteArray& wireUrl, const void* owner) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_unfinished.find({ serverOfWire(wireUrl), owner });
    return found == m_unfinished.end() ? 0 : found->second;
}

qsizetype AheadShare::unfinishedOf(const void* owner) const
{
    std::lock_guard lock(m_mutex);
    const auto found = m_unfinishedOf.find(owner);
    return found == m_unfinishedOf.end() ? 0 : found->second;
}
