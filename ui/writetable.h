// Turning the Edit Config form's values into the WriteTable that a
// SetConfig request sends.
#pragma once

#include <cstdint>

#include "codec.h"

class CEdtCfgDlg;

// Fillers: 1 filled, 0 refused (the record is then left untouched).
int FillTextRecord(ConfigRecord* record, const char* key, const char* text, int width);
int FillNumberRecord(ConfigRecord* record, const char* key, uint32_t value, int width);
int FillAddressRecord(ConfigRecord* record, const char* key, const uint8_t* octets, int width);

// Clears the WriteTable and fills it from the form's values, fourteen keys in
// their fixed order; a refused record is left out and the rest move up.
void FillWriteTable(const CEdtCfgDlg& dialog);
