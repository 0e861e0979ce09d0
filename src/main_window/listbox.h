// The main window's list boxes: rows the user can select several of and copy, while the program
// still moves a single selection through them.
#pragma once

#include <QListWidget>

class ListBox : public QListWidget
{
    Q_OBJECT
public:
    // Extended selection (Shift and Ctrl with the mouse or the arrows); Ctrl+C copies.
    explicit ListBox(QWidget* parent = nullptr);

    // The texts of the selected rows, top to bottom, one per line; empty when none is selected.
    QString selectedNames() const;

protected:
    // The copy key puts selectedNames() on the clipboard; a list without a selection leaves the
    // clipboard as it was.
    void keyPressEvent(QKeyEvent* event) override;
};
