#include "ui/PacketListView.h"

#include <QHeaderView>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QStyledItemDelegate>
#include <QToolTip>
#include <algorithm>

#include "framework/gui/AppMainWindow.h"
#include "ui/CommonDialogs.h"
#include "ui/PacketListModel.h"

namespace {

// The widest texts the Time and address columns hold in everyday use.
constexpr const char* kWidestCellTexts[] = {"255.255.255.255", "00:00:00.000"};
// Below this the digits are no longer readable.
constexpr int kSmallestPixelSize = 7;

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

// Draws every cell in the view's cell font.
class CellDelegate : public QStyledItemDelegate {
public:
    explicit CellDelegate(PacketListView* view) : QStyledItemDelegate(view), view_(view) {}

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override {
        QStyledItemDelegate::initStyleOption(option, index);
        option->font = view_->CellFont();
        option->fontMetrics = QFontMetrics(option->font);
    }

private:
    PacketListView* view_;
};

}  // namespace

PacketListView::PacketListView(QWidget* parent) : QTableView(parent) {
    setItemDelegate(new CellDelegate(this));
    UpdateCellFont();
}

int PacketListView::TextRoom(int columnWidth) const {
    // The margin the style leaves on each side of an item's text.
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    return columnWidth - 2 * margin;
}

QFont PacketListView::FittedCellFont(const QFont& font) const {
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    const int room = TextRoom((AppMainWindow::kDefaultWidth - scrollBar) / kPacketColumnCount);
    QFont fitted = font;
    for (int size = QFontInfo(font).pixelSize(); size >= kSmallestPixelSize; --size) {
        fitted.setPixelSize(size);
        const QFontMetrics metrics(fitted);
        const bool fits = std::all_of(std::begin(kWidestCellTexts), std::end(kWidestCellTexts),
                                      [&](const char* text) {
                                          return metrics.horizontalAdvance(text) <= room;
                                      });
        if (fits) return size == QFontInfo(font).pixelSize() ? font : fitted;
    }
    return fitted;
}

void PacketListView::UpdateCellFont() {
    const bool standard = font() == DefaultFixedFont();
    cellFont_ = standard ? FittedCellFont(font()) : font();
    // The rows follow the cells' font; while the default font is drawn smaller, a row height
    // for the larger font set from outside would be ignored.
    QHeaderView* rows = verticalHeader();
    const int height = QFontMetrics(cellFont_).height() + 4;
    if (standard) {
        rows->setMinimumSectionSize(std::min(rows->minimumSectionSize(), height));
        rows->setMaximumSectionSize(height);
        rows->setDefaultSectionSize(height);
    } else {
        rows->setMaximumSectionSize(QWIDGETSIZE_MAX);
    }
    viewport()->update();
}

QString PacketListView::CutText(const QModelIndex& index) const {
    if (!index.isValid()) return {};
    const QString text = index.data(Qt::DisplayRole).toString();
    const bool fits = QFontMetrics(cellFont_).horizontalAdvance(text) <=
                      TextRoom(columnWidth(index.column()));
    return fits ? QString() : text;
}

void PacketListView::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        UpdateCellFont();
    }
}

bool PacketListView::viewportEvent(QEvent* event) {
    if (event->type() != QEvent::ToolTip) return QTableView::viewportEvent(event);
    const auto* help = static_cast<QHelpEvent*>(event);
    const QModelIndex index = indexAt(help->pos());
    const QString text = CutText(index);
    if (text.isEmpty()) {
        QToolTip::hideText();
    } else {
        QToolTip::showText(help->globalPos(), text, viewport(), visualRect(index));
    }
    return true;
}

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
