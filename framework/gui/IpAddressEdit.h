// An IPv4 address control: four octet fields editing one 32-bit address in host byte order
// (first octet most significant). A field takes 0 to 255; typing a dot or filling three digits
// moves to the next field; an empty field counts as 0.
#pragma once

#include <QWidget>
#include <cstdint>

class QLineEdit;

class IpAddressEdit : public QWidget {
public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    void SetAddress(uint32_t address);
    uint32_t Address() const;
    QLineEdit* Field(int octet) const { return fields_[octet]; }

protected:
    bool eventFilter(QObject* target, QEvent* event) override;

private:
    QLineEdit* fields_[4] = {};
};
