#include "framework/gui/IpAddressEdit.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

IpAddressEdit::IpAddressEdit(QWidget* parent) : QWidget(parent) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    for (int octet = 0; octet < 4; ++octet) {
        if (octet) layout->addWidget(new QLabel(".", this));
        auto* field = new QLineEdit(this);
        field->setObjectName(QString("octet%1").arg(octet));
        field->setValidator(new QIntValidator(0, 255, field));
        field->setMaxLength(3);
        field->setAlignment(Qt::AlignCenter);
        field->installEventFilter(this);
        fields_[octet] = field;
        layout->addWidget(field, 1);
        if (octet < 3) {
            connect(field, &QLineEdit::textEdited, this, [this, octet](const QString& text) {
                if (text.size() == 3) {
                    fields_[octet + 1]->setFocus();
                    fields_[octet + 1]->selectAll();
                }
            });
        }
    }
    setFocusProxy(fields_[0]);
}

void IpAddressEdit::SetAddress(uint32_t address) {
    for (int octet = 0; octet < 4; ++octet) {
        fields_[octet]->setText(QString::number((address >> (24 - 8 * octet)) & 0xff));
    }
}

uint32_t IpAddressEdit::Address() const {
    uint32_t address = 0;
    for (int octet = 0; octet < 4; ++octet) {
        const uint32_t value = std::min(fields_[octet]->text().toUInt(), 255u);
        address |= value << (24 - 8 * octet);
    }
    return address;
}

bool IpAddressEdit::eventFilter(QObject* target, QEvent* event) {
    if (event->type() != QEvent::KeyPress) return false;
    const int key = static_cast<QKeyEvent*>(event)->key();
    for (int octet = 0; octet < 3; ++octet) {
        if (target == fields_[octet] && (key == Qt::Key_Period || key == Qt::Key_Comma)) {
            fields_[octet + 1]->setFocus();
            fields_[octet + 1]->selectAll();
            return true;
        }
    }
    return false;
}
