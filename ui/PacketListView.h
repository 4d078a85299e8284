// The packet list's view: a table whose keyboard moves between packets. Home and End go to the
// first and last packet, and every move of the focus selects the row it lands on, so the row
// whose packet the detail pane shows is always the selected one (Shift still extends the
// selection, Ctrl+Space and Ctrl+click still toggle a row). Taking the keyboard focus chooses no
// row by itself.
#pragma once

#include <QTableView>

class PacketListView : public QTableView {
public:
    using QTableView::QTableView;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void focusInEvent(QFocusEvent* event) override;

private:
    bool takingFocus_ = false;
};
