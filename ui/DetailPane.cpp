#include "ui/DetailPane.h"

#include <QHeaderView>
#include <QTreeWidget>
#include <string_view>
#include <vector>

#include "decode/DescriptionTree.h"

std::array<uint8_t, kRememberedLayers> expandedLayers{};

QTreeWidget* CreateDetailPane(QWidget* parent) {
    auto* tree = new QTreeWidget(parent);
    tree->setObjectName("detailPane");
    tree->setCursor(Qt::ArrowCursor);
    tree->setColumnCount(1);
    tree->setHeaderHidden(true);
    tree->setRootIsDecorated(true);
    tree->setUniformRowHeights(true);
    tree->setFrameShape(QFrame::StyledPanel);
    tree->setEditTriggers(QAbstractItemView::EditKeyPressed);
    tree->setSelectionMode(QAbstractItemView::SingleSelection);
    tree->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Long lines (a hex dump) scroll sideways instead of being cut off.
    tree->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree->header()->setStretchLastSection(false);
    expandedLayers.fill(1);
    QObject::connect(tree, &QTreeWidget::itemExpanded, tree,
                     [tree](QTreeWidgetItem* item) { RememberExpansion(tree, item, true); });
    QObject::connect(tree, &QTreeWidget::itemCollapsed, tree,
                     [tree](QTreeWidgetItem* item) { RememberExpansion(tree, item, false); });
    return tree;
}

bool FillTree(QTreeWidget* tree, const str& text) {
    // Hidden from painting while it is emptied and refilled; its own expanding is not the user's.
    tree->setUpdatesEnabled(false);
    const bool wereBlocked = tree->blockSignals(true);
    tree->clear();

    const std::vector<DescriptionTreeItem> lines =
        BuildDescriptionTree(std::string_view(text.c_str(), text.Length()));
    // Built detached and handed to the tree in one go; children are appended in text order.
    std::vector<QTreeWidgetItem*> items;
    items.reserve(lines.size());
    QList<QTreeWidgetItem*> layers;
    for (const DescriptionTreeItem& line : lines) {
        // Latin-1, as the list shows its texts: packet bytes in a label (a DNS name) are not
        // UTF-8 and must not turn into replacement characters.
        auto* item = new QTreeWidgetItem(QStringList(QString::fromLatin1(
            line.label.data(), static_cast<qsizetype>(line.label.size()))));
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        if (line.parent >= 0 && static_cast<size_t>(line.parent) < items.size()) {
            items[static_cast<size_t>(line.parent)]->addChild(item);
        } else {
            layers.push_back(item);
        }
        items.push_back(item);
    }
    tree->addTopLevelItems(layers);
    // The k-th top-level item is the k-th layer.
    for (qsizetype layer = 0; layer < layers.size() && layer < kRememberedLayers; ++layer) {
        if (expandedLayers[static_cast<size_t>(layer)]) layers[layer]->setExpanded(true);
    }

    tree->blockSignals(wereBlocked);
    tree->setUpdatesEnabled(true);
    // Qt's item insertion cannot fail short of running out of memory, which throws.
    return true;
}

void RememberExpansion(QTreeWidget* tree, QTreeWidgetItem* item, bool expanded) {
    if (!item || item->parent()) return;
    const int position = tree->indexOfTopLevelItem(item);
    if (position >= 0 && position < kRememberedLayers) {
        expandedLayers[static_cast<size_t>(position)] = expanded ? 1 : 0;
    }
}
