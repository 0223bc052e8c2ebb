// IPv4 address control: four fields of 0 to 255. Typing a dot or a third
// digit moves to the next field, Backspace in an empty field (or at its
// start) moves back to the end of the previous one. A blank field reads as 0.
// The control is one tab stop: Tab enters at the first field and leaves from any.
#pragma once

#include <QFrame>
#include <array>
#include <cstdint>

class QLineEdit;

class CIpAddressCtrl : public QFrame {
    Q_OBJECT
public:
    explicit CIpAddressCtrl(QWidget* parent = nullptr);

    // Sets the four fields, first octet first (none left blank).
    void SetAddress(uint8_t f0, uint8_t f1, uint8_t f2, uint8_t f3);
    // Reads the four fields, first octet first; returns how many were not blank.
    int GetAddress(uint8_t out[4]) const;
    bool IsBlank() const;
    QString Text() const;   // "a.b.c.d" with blank fields as 0

    QLineEdit* field(int i) const { return m_fields[static_cast<size_t>(i)]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* e) override;

private:
    void FocusField(int i, bool atEnd);
    int IndexOf(QObject* o) const;
    std::array<QLineEdit*, 4> m_fields{};
};
