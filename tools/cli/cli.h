// pathlume-cli: find, read, change, back up and restore devices from a
// terminal or a script, on the protocol library alone.
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
    kExitTransport = 4,    // the UDP transport could not be used
};

enum class Command { None, Find, Get, Set, Save, Load, Help, Version };
enum class Format { Default, Table, Json, Csv, Text };

// One KEY=VALUE of a write; key is a KeyIndex of a writable key.
struct Assignment {
    int key = -1;
    std::string value;
};

struct Options {
    Command command = Command::None;
    std::string device;   // serial number, MAC address, or SERIAL@MAC
    std::string file;
    std::vector<Assignment> assignments;
    int timeout = 3;
    Format format = Format::Default;
    bool dryRun = false;
    bool withIdentity = false;   // load: also write IP and HOST_NAME from another device's file
    std::string interfaceName;
    // For testing only: requests to ADDR:PORT, replies received on ADDR:PORT.
    std::string sendTo;
    std::string listen;
    bool badValue = false;   // the usage error was a value that failed its check
};

// Parses the command line (argv[0] is the program). 0, or kExitUsage with
// a one-line message in *error.
int ParseArgs(int argc, const char* const* argv, Options* out, std::string* error);

// Parses and checks one "KEY=VALUE" (blanks around KEY and VALUE allowed,
// KEY in any letter case) by the Edit Config form's rules. 0, or kExitUsage
// with a message in *error.
int ParseAssignment(const std::string& text, Assignment* out, std::string* error);

// Parses a saved settings text: "KEY = value" lines, blank lines and lines
// starting with '#'. Every line is checked; the first error is reported as
// "NAME:LINE: message". 0 or kExitUsage. *source, when given, receives the
// serial number of the device the file was saved from (its save header), or
// "" when the file has none.
int ParseSettingsText(const std::string& text, const std::string& name,
                      std::vector<Assignment>* out, std::string* error,
                      std::string* source = nullptr);

// The first line of a saved file, naming the device it was saved from.
extern const char kSaveHeader[];   // "# pathlume-cli save of "

// The settings text that save writes for a configuration's record text.
std::string SettingsTextOf(const char* configText, const char* mac, const char* serial);

// Quoting for the outputs.
std::string JsonString(const std::string& bytes);
std::string CsvField(const std::string& text);

// Runs the program: data on out, messages on err.
int Main(int argc, const char* const* argv, FILE* out, FILE* err);

}  // namespace cli
