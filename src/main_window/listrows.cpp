// List box changes carried out in batches.
#include "main_window/listrows.h"

#include <QItemSelectionModel>
#include <QListWidget>

#include <utility>

ListRows::ListRows(QListWidget* list, int intervalMs)
    : QObject(list)
    , m_list(list)
    , m_intervalMs(intervalMs)
{
    m_due.setSingleShot(true);
    connect(&m_due, &QTimer::timeout, this, &ListRows::flush);
    m_sinceFlushed.start();
}

void ListRows::setBatching(bool on)
{
    flush();
    m_batching = on;
}

void ListRows::append(const QString& fileName)
{
    m_pending.append(fileName);
    due();
}

void ListRows::appendAnew(const QStringList& fileNames)
{
    m_pending.append(fileNames);
    // Whatever was picked before is no longer picked.
    m_selectRow = -1;
    m_anew = true;
    due();
}

void ListRows::select(qsizetype row)
{
    if (row < 0 || row >= m_list->count() + m_pending.size())
        return;
    m_selectRow = row;
    due();
}

void ListRows::selectLast()
{
    // Rows are only ever appended, so the row meant now stays the same row after the batch.
    select(m_list->count() + m_pending.size() - 1);
}

void ListRows::due()
{
    if (!m_batching)
        flush();
    else if (!m_due.isActive())
        m_due.start(m_intervalMs); // also when the thread next waits in a modal box
}

void ListRows::flush()
{
    m_due.stop();
    m_sinceFlushed.start();
    if (!m_pending.isEmpty())
        m_list->addItems(std::exchange(m_pending, {}));
    if (std::exchange(m_anew, false)) {
        m_list->selectionModel()->clear();
        m_list->scrollToTop();
    }
    // Whatever rows the user picked for copying, the row at hand is the one selected row.
    if (m_selectRow >= 0 && m_selectRow < m_list->count())
        m_list->setCurrentRow(int(m_selectRow), QItemSelectionModel::ClearAndSelect);
    m_selectRow = -1;
}

void ListRows::flushWhenDue()
{
    if ((!m_pending.isEmpty() || m_selectRow >= 0 || m_anew)
        && m_sinceFlushed.elapsed() >= m_intervalMs)
        flush();
}
