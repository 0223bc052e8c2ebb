// Dialog data exchange from the form: reading and checking text and number
// fields with the standard validation messages.
#pragma once

#include <QString>
#include <cstdint>

struct CfgField;
class QLineEdit;
class QWidget;

namespace Ddx {

// Reads an unsigned decimal number as ParseCfgUnsigned does, from the whole
// text: leading white space skipped, digits up to the first non-digit. false
// when no digit can be read. Values beyond 32 bits, and digits that run past
// the first 63 characters, saturate.
bool ParseUnsigned(const QString& text, uint64_t* out);

// Text of ctl into *out; longer than limit: "Enter no more than %1 characters."
bool ExchangeText(QWidget* dlg, QLineEdit* ctl, int limit, QString* out);

// Number of ctl into *out; none: "Enter a positive integer."; outside the
// range: "Enter an integer between %1 and %2."
bool ExchangeUInt(QWidget* dlg, QLineEdit* ctl, uint32_t min, uint32_t max, uint32_t* out);

// Text of a field that the user types (the protocol carries printable ASCII
// only): another character gets a message naming the field, an over-long
// text the limit message.
bool ExchangeFreeText(QWidget* dlg, QLineEdit* ctl, const CfgField& field, QString* out);

// Standard decimal conversion (optional blanks and sign, digits up to the
// first non-digit, 0 when none), as for the Timeout box.
int32_t ToInt(const QString& text);

}  // namespace Ddx
