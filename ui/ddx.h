// Dialog data exchange for the main window's Timeout box: reading and
// checking a number with the standard validation messages, and the standard
// decimal conversion. (The Edit Config form checks its fields through the
// write planner.)
#pragma once

#include <QString>
#include <cstdint>

class QLineEdit;
class QWidget;

namespace Ddx {

// Number of ctl into *out; none: "Enter a positive integer."; outside the
// range: "Enter an integer between %1 and %2."
bool ExchangeUInt(QWidget* dlg, QLineEdit* ctl, uint32_t min, uint32_t max, uint32_t* out);

// Standard decimal conversion (optional blanks and sign, digits up to the
// first non-digit, 0 when none), as for the Timeout box.
int32_t ToInt(const QString& text);

}  // namespace Ddx
