// The packet list's view: a table whose keyboard moves between packets. Home and End go to the
// first and last packet, and every move of the focus selects the row it lands on, so the row
// whose packet the detail pane shows is always the selected one (Shift still extends the
// selection, Ctrl+Space and Ctrl+click still toggle a row). Taking the keyboard focus chooses no
// row by itself.
//
// The columns share the window's width equally, which at the default window size is narrow
// for the desktop's fixed font: while the list has the default font, its cells are drawn at the
// largest size of it at which a Time and a dotted IPv4 address fit such a column. A font the
// user chose is drawn as chosen. A cell whose text is cut shows the whole text as its tooltip.
#pragma once

#include <QFont>
#include <QTableView>

class PacketListView : public QTableView {
public:
    explicit PacketListView(QWidget* parent = nullptr);

    // The font the cells are drawn in.
    const QFont& CellFont() const { return cellFont_; }
    // The largest size of the font, not above its own and not below 7 pixels, at which the
    // widest Time and IPv4 address texts fit a column of the window at its default size (with
    // the style's margins). The font itself when they fit.
    QFont FittedCellFont(const QFont& font) const;
    // The cell's whole text when it does not fit its column, else empty.
    QString CutText(const QModelIndex& index) const;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event) const override;
    void focusInEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    // The room for text in a column of that width.
    int TextRoom(int columnWidth) const;
    void UpdateCellFont();

    bool takingFocus_ = false;
    QFont cellFont_;
};
