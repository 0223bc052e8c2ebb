// IPv4 address control: four fields of 0 to 255, typed the way an address is
// written, so that a whole address typed over an old one gives exactly that
// address.
//
// - A field entered by Tab, by a dot or by the jump after a third digit has its
//   text selected: the first digit typed replaces it.
// - A third digit moves on to the next field. A dot moves on too, unless the
//   field is empty or the dot comes right after such a jump (it is then taken
//   as that jump); in the last field a dot does nothing.
// - A keystroke that would make a field's value exceed 255 is refused: the
//   field keeps its text.
// - Right with nothing to the right of the cursor (or of the selection) goes
//   to the start of the next field; Left with nothing to its left goes to the
//   end of the previous one; so does Backspace at the start of a field or in
//   an empty one. With Shift or Ctrl the arrows stay inside the field.
// - Pasting (Ctrl+V, Shift+Insert or the field's context menu) a dotted
//   address - four decimal parts of 0 to 255, blanks around it allowed, a
//   leading zero read as decimal - into any field fills all four fields. A
//   paste of digits only goes into that field as typing would, if the field
//   then still holds at most three digits and at most 255; any other paste is
//   refused as a whole and changes nothing.
//
// The control is one tab stop: Tab enters at the first field and leaves from
// any. A blank field reads as 0.
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
    // Leaves all four fields blank.
    void Clear();
    // Reads the four fields, first octet first; returns how many were not blank.
    int GetAddress(uint8_t out[4]) const;
    bool IsBlank() const;
    QString Text() const;   // "a.b.c.d" with blank fields as 0

    QLineEdit* field(int i) const { return m_fields[static_cast<size_t>(i)]; }

signals:
    // The user changed the address: typing, Backspace, Delete, cut or paste.
    // Not sent for SetAddress or Clear.
    void edited();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* e) override;

private:
    enum class Entry { SelectAll, AtStart, AtEnd };
    void FocusField(int i, Entry how);
    int IndexOf(QObject* o) const;
    void OnFieldEdited(int i);
    void Paste(int i);
    void ShowFieldMenu(int i, const QPoint& pos);

    std::array<QLineEdit*, 4> m_fields{};
    int m_jumpedTo = -1;   // the field a third digit has just moved to, until the next key
};
