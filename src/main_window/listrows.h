// What a run does to one of the window's list boxes, carried out in batches: a list view lays all
// its rows out again after an insertion and scrolls its pixels for every new current row, so
// row-by-row updates cost more than the download they report.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QStringList>
#include <QTimer>

class QListWidget;

class ListRows : public QObject
{
    Q_OBJECT
public:
    // While batching, changes reach list at the latest intervalMs after they were asked for;
    // otherwise at once. The list ends up exactly as if each change had been made at once.
    ListRows(QListWidget* list, int intervalMs);

    // Brings the list up to date, then batches (on) or not from here on.
    void setBatching(bool on);

    void append(const QString& fileName);
    // Appends rows so that the list looks as if it had been filled anew: no row picked, the first
    // row at the top.
    void appendAnew(const QStringList& fileNames);
    // Makes row the one selected row; nothing for a row the list does not have.
    void select(qsizetype row);
    // Selects the last row (as far as rows have been appended); nothing when there is none.
    void selectLast();
    // Puts every appended row and the latest selection into the list now.
    void flush();
    // flush() when the list has not been brought up to date for an interval.
    void flushWhenDue();

private:
    void due();

    QListWidget* m_list;
    QStringList m_pending;
    qsizetype m_selectRow = -1;
    bool m_anew = false; // the pending rows came with appendAnew
    int m_intervalMs;
    bool m_batching = false;
    QElapsedTimer m_sinceFlushed;
    QTimer m_due;
};
