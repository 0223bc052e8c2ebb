// What the parts of pathlume-cli share among themselves: small text helpers
// and the rules for reading and writing files. Not part of its interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "protocol.h"

namespace cli {

std::string Upper(std::string s);
// "ENET_SPD, DHCP, ..." for messages.
std::string WritableKeyList();
// "ADDR:PORT" with a dotted address; false when it is not one.
bool ParseEndpoint(const std::string& text, std::string* addr, uint16_t* port);

// Device text is single-byte. Shown on a terminal, in table and text output
// and in messages, every byte below 0x20, 0x7F, every byte from 0x80 and the
// backslash are written as escapes (\r, \n, \t, \\, \xNN), so that what a
// device sends can neither drive the terminal nor forge a line.
std::string SafeText(const std::string& bytes);

// A file's name (or a sentence that holds one) in a message: as SafeText,
// but on Windows the backslashes between its folders stay as they are.
std::string PathText(const std::string& path);

// The same escapes for a value in a settings file, which load reads back to
// exactly the bytes that were saved; a space at either end is written as
// \x20, since a file's value is read without the blanks around it.
std::string EscapeValue(const std::string& bytes);
// Reads those escapes back. false with the reason in *why when the text holds
// an unknown or incomplete escape.
bool UnescapeValue(const std::string& text, std::string* bytes, std::string* why);

// The most a settings file may hold.
constexpr size_t kMaxSettingsFile = 64 * 1024;

// Reads a settings file whole: "-" is standard input, anything else must be a
// regular file (a directory, FIFO or device is refused without being read or
// waited on), and neither may hold more than kMaxSettingsFile bytes. false with
// a message naming the file and the system's reason in *error.
bool ReadSettingsFile(const std::string& name, std::string* text, std::string* error);

// Writes text as the whole content of a file: to a temporary file beside it
// that then replaces it, so a failed write never leaves a cut file in place
// of a good one. false with a message naming the file and the reason.
bool WriteFileReplacing(const std::string& name, const std::string& text, std::string* error);

}  // namespace cli
