// pathlume-cli: find, read, change, back up and restore devices from a
// terminal or a script, on the protocol library alone. Every write is
// recorded in the journal of journal.h, which history lists and restore
// undoes.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace cli {

// Exit codes.
enum Exit : int {
    kExitOk = 0,           // done (and verified, for writes)
    kExitNoDevice = 1,     // device not found, or no answer
    kExitUsage = 2,        // usage or validation error; nothing written
    kExitNotVerified = 3,  // written, but the re-read did not show every value
    kExitDiffer = 3,       // diff: the values differ
    kExitTransport = 4,    // the UDP transport could not be used
    kExitOutput = 1,       // standard output or a file could not be written
    kExitInterrupted = 130,   // Ctrl-C
};

enum class Command {
    None, Find, Get, Set, Save, Load, History, Restore, Diff, Apply, Help, Version
};
enum class Format { Default, Table, Json, Csv, Text };

// One KEY=VALUE of a write; key is a KeyIndex of a writable key.
struct Assignment {
    int key = -1;
    std::string value;
};

// apply's --match KEY=PATTERN: one field of a device's Find answer (a
// KeyIndex of SERIAL_NUM, MAC, DEV, VER, IP_CUR or HOST_NAME) and a
// shell-style pattern it must match.
struct DeviceMatch {
    int key = -1;
    std::string pattern;
};

struct Options {
    Command command = Command::None;
    std::string device;   // serial number, MAC address, or SERIAL@MAC (history: may be empty)
    std::string file;
    std::vector<Assignment> assignments;
    int timeout = 3;
    Format format = Format::Default;
    bool dryRun = false;
    bool withIdentity = false;   // load: also write IP and HOST_NAME from another device's file
    bool force = false;          // restore: write over values changed since the entry's write
    bool quiet = false;          // no progress, no verification line on success
    int entry = 0;               // restore: the journal entry (its line), 0 for the newest
    std::string helpTopic;       // help COMMAND
    std::string leftFile;        // diff FILE FILE: the first file (else diff compares o.device)
    std::vector<std::string> devices;    // apply: the devices named
    std::vector<DeviceMatch> matches;    // apply: every one must hold
    bool all = false;                    // apply: every device that answers (and matches)
    std::string interfaceName;
    // For testing only: requests to ADDR:PORT, replies received on ADDR:PORT.
    std::string sendTo;
    std::string listen;
    bool badValue = false;   // the usage error was a value that failed its check
};

// Parses the command line (argv[0] is the program). 0, or kExitUsage with
// a one-line message in *error.
int ParseArgs(int argc, const char* const* argv, Options* out, std::string* error);

// Where an assignment comes from: typed on the command line, or read from a
// settings file (which may hold the device's own host name, whatever its
// bytes; that host name is checked once the device has answered).
enum class AssignmentFrom { Argument, File };

// Parses and checks one "KEY=VALUE" (blanks around KEY and VALUE allowed,
// KEY in any letter case) by the Edit Config form's rules. 0, or kExitUsage
// with a message in *error.
int ParseAssignment(const std::string& text, Assignment* out, std::string* error,
                    AssignmentFrom from = AssignmentFrom::Argument);

// Parses one --match "KEY=PATTERN" (KEY in any letter case). 0, or
// kExitUsage with a message in *error.
int ParseMatch(const std::string& text, DeviceMatch* out, std::string* error);

// Whether text matches a shell-style pattern as a whole: '*' any run of
// characters, '?' any one, "[abc]", "[a-z]" and "[!abc]" (or "[^abc]") one of
// (or none of) a set, a backslash takes the next character as it is. Byte for byte,
// letter case counting. A '[' without its ']' stands for itself.
bool MatchesPattern(const std::string& pattern, const std::string& text);

// The general help, and one command's ("" for an unknown command).
const char* UsageText();
std::string CommandHelp(const std::string& command);

// Asks a running command to stop as Ctrl-C does: find then prints what it
// has and the program ends with kExitInterrupted. Safe in a signal handler.
void RequestInterrupt();

// Parses a saved settings text: "KEY = value" lines (values with the escapes
// \\ \r \n \t \xNN), blank lines and lines whose first non-blank character is
// '#'; a UTF-8 byte-order mark is skipped. Every line is checked, and must end
// with a line end; the first error is reported as "NAME:LINE: message". 0 or
// kExitUsage. *source, when given, receives the device the file was saved
// from, as its save header names it.
struct SavedFrom {
    bool named = false;   // the file begins with a save header
    std::string serial;   // its bytes exactly, as the device gave them
    std::string mac;      // "" when the header names no MAC address
};
int ParseSettingsText(const std::string& text, const std::string& name,
                      std::vector<Assignment>* out, std::string* error,
                      SavedFrom* source = nullptr);

// The first line of a saved file, naming the device it was saved from.
extern const char kSaveHeader[];   // "# pathlume-cli save of "

// Whose backup a loaded file is, for the device it is loaded onto. A device
// is its serial number together with its MAC address: a file is the
// target's own only when both match. A header without a MAC address (a file
// written by hand) is taken as the target's own by its serial number alone.
enum class BackupOwner {
    Unnamed,       // the file names no device
    Own,           // saved from this device
    OwnBySerial,   // names this serial number and no MAC address
    Other,         // saved from another device
};
BackupOwner WhoseBackup(const SavedFrom& from, const std::string& serial, const std::string& mac);
// A write from a settings file: whose backup it is (said on err when taken
// as the device's own by its serial number alone), and, for another
// device's backup, IP and HOST_NAME taken out of changes unless
// withIdentity (said on err when there were any).
BackupOwner KeepIdentity(const SavedFrom& from, const std::string& serial, const std::string& mac,
                         bool withIdentity, std::vector<Assignment>* changes, FILE* err);

// The settings text that save writes for a configuration's record text:
// every value escaped so that it stays on its line and reads back exactly.
std::string SettingsTextOf(const char* configText, const char* mac, const char* serial);

// Quoting for the outputs: JSON strings as the journal writes them, CSV
// fields as the window's export quotes them. Both are UTF-8 with each device
// byte read as Latin-1, as every file the programs write for other programs.
std::string JsonString(const std::string& bytes);
std::string CsvField(const std::string& bytes);

// Device bytes read as Latin-1, in UTF-8: e9 becomes c3 a9.
std::string Utf8OfLatin1(const std::string& bytes);

// Runs the program: data on out, messages on err.
int Main(int argc, const char* const* argv, FILE* out, FILE* err);

}  // namespace cli
