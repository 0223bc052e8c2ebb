// Turning the Edit Config form's values into the WriteTable that a
// SetConfig request sends. The fillers and the table's records, order and
// widths are the shared rules of cfgrules.h; this adds the form's side.
#pragma once

#include "protocol.h"

class CEdtCfgDlg;

// The form's value fields as plain values.
void CfgValuesFromDialog(const CEdtCfgDlg& dialog, CfgValues* out);

// Clears *out and fills it from the form's values, fourteen keys in their
// fixed order; a refused record is left out and the rest move up.
void FillWriteTable(const CEdtCfgDlg& dialog, RecordTable* out);
