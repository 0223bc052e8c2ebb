// Small text rules that the window, pathlume-cli, the journal and the
// simulator share, so that each is written once. Not on the request or
// receive path, so they work with std::string.
#pragma once

#include <string>

// Without the blanks (space, tab, CR, LF) at both ends.
std::string TrimBlanks(const std::string& s);

// A MAC address text without ':' and '-', in upper case, as two names of
// one device are compared.
std::string NormalMac(const std::string& s);

// The value of one hexadecimal digit (either case), or -1 for any other byte.
constexpr int HexDigitValue(char c)
{
    return c >= '0' && c <= '9'   ? c - '0'
           : c >= 'a' && c <= 'f' ? c - 'a' + 10
           : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                  : -1;
}

// One CSV field (RFC 4180): a field holding a comma, a quote or a line end
// is quoted, its quotes doubled; any other is as it is. Works on bytes, so
// UTF-8 text is quoted right too.
std::string CsvQuote(const std::string& text);
