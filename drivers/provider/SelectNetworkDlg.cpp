// The provider's network selection dialog: one row per interface with its name and hardware
// address. Built into libnpptools-ui.so, which the provider loads only to show it.
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "drivers/provider/Networks.h"

extern "C" __attribute__((visibility("default"))) int NppRunSelectDialog(
    void* ownerWindow, const char* const* names, const char* const* addresses, int count) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return -1;
    QDialog dialog(static_cast<QWidget*>(ownerWindow));
    dialog.setObjectName("SelectNetworkDlg");
    dialog.setWindowTitle("Select Network");
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(new QLabel("Capture frames on this network:", &dialog));
    auto* list = new QTreeWidget(&dialog);
    list->setRootIsDecorated(false);
    list->setHeaderLabels({"Network", "Hardware address"});
    for (int i = 0; i < count; ++i) {
        list->addTopLevelItem(new QTreeWidgetItem({QString::fromLocal8Bit(names[i]),
                                                   QString::fromLatin1(addresses[i])}));
    }
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    if (count > 0) list->setCurrentItem(list->topLevelItem(0));
    layout->addWidget(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    buttons->button(QDialogButtonBox::Ok)->setEnabled(count > 0);
    layout->addWidget(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    QObject::connect(list, &QTreeWidget::itemDoubleClicked, &dialog, &QDialog::accept);
    if (dialog.exec() != QDialog::Accepted) return -1;
    const int row = list->indexOfTopLevelItem(list->currentItem());
    return row >= 0 && row < count ? row : -1;
}
