#include "ui/PacketListView.h"

#include <QKeyEvent>

namespace {

bool IsMoveKey(int key) {
    switch (key) {
        case Qt::Key_Home:
        case Qt::Key_End:
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Left:
        case Qt::Key_Right:
            return true;
        default:
            return false;
    }
}

}  // namespace

QModelIndex PacketListView::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    // While the focus comes in, the table asks for a first row to make current (and so shown)
    // without selecting it, after which a Find would start below it.
    if (takingFocus_) return {};
    if (action != MoveHome && action != MoveEnd) return QTableView::moveCursor(action, modifiers);
    const int rows = model() ? model()->rowCount(rootIndex()) : 0;
    if (rows == 0) return {};
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    return model()->index(action == MoveHome ? 0 : rows - 1, column, rootIndex());
}

QItemSelectionModel::SelectionFlags PacketListView::selectionCommand(const QModelIndex& index,
                                                                     const QEvent* event) const {
    // Ctrl with a move key would move the focus alone and leave the row unselected.
    if (event && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<const QKeyEvent*>(event);
        if (IsMoveKey(key->key()) && (key->modifiers() & Qt::ControlModifier) &&
            !(key->modifiers() & Qt::ShiftModifier)) {
            return QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows;
        }
    }
    return QTableView::selectionCommand(index, event);
}

void PacketListView::focusInEvent(QFocusEvent* event) {
    takingFocus_ = true;
    QTableView::focusInEvent(event);
    takingFocus_ = false;
}
