// Record lines as a device writes them, for building reply texts in tests:
// "KEY = value", the value padded with blanks to the key's width, then CR LF.
#pragma once

#include <cstddef>
#include <string>

#include "codec.h"

namespace testrig {

inline std::string Line(int key, const std::string& value)
{
    std::string v = value;
    v.resize(static_cast<size_t>(KeyTable[key].width), ' ');
    return std::string(KeyTable[key].key) + " = " + v + "\r\n";
}

// The same by the key's text; the key must be one of the key table.
inline std::string Line(const char* key, const std::string& value)
{
    return Line(KeyIndexOf(key), value);
}

}  // namespace testrig
