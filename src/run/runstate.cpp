// The state of a run.
#include "run/runstate.h"

void PageList::clear()
{
    m_addresses.clear();
    m_index.clear();
}

void PageList::append(const QString& address)
{
    m_addresses.append(address);
    m_index.insert(address);
}
