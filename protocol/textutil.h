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

// One CSV field (RFC 4180): a field holding a comma, a quote or a line end
// is quoted, its quotes doubled; any other is as it is. Works on bytes, so
// UTF-8 text is quoted right too.
std::string CsvQuote(const std::string& text);
