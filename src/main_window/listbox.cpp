// The main window's list boxes.
#include "main_window/listbox.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QKeyEvent>

#include <algorithm>

ListBox::ListBox(QWidget* parent)
    : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    // A list of a hundred thousand files must fill and scroll without measuring every row.
    setUniformItemSizes(true);
}

QString ListBox::selectedNames() const
{
    // The selection model keeps rows in the order they were picked; the clipboard gets them in
    // the order the list shows them.
    QList<int> rows;
    const QModelIndexList selected = selectionModel()->selectedRows();
    rows.reserve(selected.size());
    for (const QModelIndex& index : selected)
        rows.append(index.row());
    std::sort(rows.begin(), rows.end());
    QStringList names;
    names.reserve(rows.size());
    for (int row : rows)
        names.append(item(row)->text());
    return names.join(u'\n');
}

void ListBox::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy)) {
        // The view's own copy takes only the current row.
        if (const QString names = selectedNames(); !names.isEmpty())
            QGuiApplication::clipboard()->setText(names);
        event->accept();
        return;
    }
    QListWidget::keyPressEvent(event);
}
