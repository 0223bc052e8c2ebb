// pathlume-cli: settings files, as save writes them and load reads them.
//
// A file is "KEY = value" lines, each ended by a line end; a line whose first
// non-blank character is '#' is a comment, and so is a blank line. A value is
// everything after the '=', without the blanks around it, with the escapes
// \\ \r \n \t \xNN for the bytes that cannot stand in a line. The first line
// of a saved file names the device it came from.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "protocol.h"
#include "cli.h"
#include "cliplatform.h"
#include "internal.h"

namespace cli {

const char kSaveHeader[] = "# pathlume-cli save of ";

bool ReadSettingsFile(const std::string& name, std::string* text, std::string* error)
{
    const bool stdinput = name == "-";
    const std::string shown = stdinput ? std::string("standard input") : name;
    std::string why;
    const int handle = stdinput ? 0 : OpenRegularFile(name, &why);
    bool ok = handle >= 0;
    // At most one byte more than a settings file may hold.
    text->clear();
    char buf[8192];
    while (ok && text->size() <= kMaxSettingsFile) {
        const long n = ReadSome(handle, buf, sizeof buf, &why);
        ok = n >= 0;
        if (n <= 0)
            break;
        text->append(buf, static_cast<size_t>(n));
    }
    if (!stdinput && handle >= 0)
        CloseRegularFile(handle);
    if (!ok) {
        *error = "Cannot read " + PathText(shown) + ": " + why + ".";
        return false;
    }
    if (text->size() > kMaxSettingsFile) {
        *error = "Cannot read " + PathText(shown) + ": it is larger than 64 KiB.";
        return false;
    }
    return true;
}

bool WriteFileReplacing(const std::string& name, const std::string& text, std::string* error)
{
    std::string why;
    if (ReplaceFileWith(name, text, &why))
        return true;
    *error = "Cannot write " + PathText(name) + ": " + why + ".";
    return false;
}

namespace {

// "SERIAL (MAC)" or "SERIAL" of a save header, each with the escapes of a
// value. The MAC is written with every space escaped, so the last " (" is
// where it begins whatever bytes the serial number holds.
void ReadSaveHeader(const std::string& rest, SavedFrom* from)
{
    from->named = true;
    std::string serial = rest;
    std::string mac;
    const auto open = rest.rfind(" (");
    if (open != std::string::npos && !rest.empty() && rest.back() == ')') {
        serial = rest.substr(0, open);
        mac = rest.substr(open + 2, rest.size() - open - 3);
    }
    // A header edited by hand may hold a backslash that is no escape: it
    // then stands for itself.
    std::string why;
    if (!UnescapeValue(serial, &from->serial, &why))
        from->serial = serial;
    if (!UnescapeValue(mac, &from->mac, &why))
        from->mac = mac;
}

std::string HeaderMac(const std::string& mac)
{
    std::string s;
    for (char c : EscapeValue(mac))
        s += c == ' ' ? std::string("\\x20") : std::string(1, c);
    return s;
}

}  // namespace

BackupOwner WhoseBackup(const SavedFrom& from, const std::string& serial, const std::string& mac)
{
    if (!from.named)
        return BackupOwner::Unnamed;
    if (from.serial != serial)
        return BackupOwner::Other;
    if (from.mac.empty())
        return BackupOwner::OwnBySerial;
    return NormalMac(from.mac) == NormalMac(mac) ? BackupOwner::Own : BackupOwner::Other;
}

int ParseSettingsText(const std::string& text, const std::string& name,
                      std::vector<Assignment>* out, std::string* error, SavedFrom* source)
{
    out->clear();
    if (source)
        *source = SavedFrom{};
    const std::string shown = PathText(name == "-" ? std::string("standard input") : name);
    size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;   // a UTF-8 byte-order mark
    for (int n = 1; pos < text.size(); ++n) {
        auto fail = [&](const std::string& why) {
            *error = shown + ":" + std::to_string(n) + ": " + why;
            return kExitUsage;
        };
        const size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            return fail("the last line has no line end; the file may be cut short");
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.find('\0') != std::string::npos)
            return fail("a NUL byte");
        const std::string t = TrimBlanks(line);
        if (n == 1 && source && t.rfind(kSaveHeader, 0) == 0)
            ReadSaveHeader(t.substr(std::strlen(kSaveHeader)), source);   // "... of SERIAL (MAC)"
        if (t.empty() || t[0] == '#')
            continue;
        const auto eq = t.find('=');
        std::string value;
        std::string why;
        if (eq != std::string::npos && !UnescapeValue(TrimBlanks(t.substr(eq + 1)), &value, &why))
            return fail(why);
        Assignment a;
        const std::string assignment =
            eq == std::string::npos ? t : t.substr(0, eq) + "=" + value;
        if (ParseAssignment(assignment, &a, &why, AssignmentFrom::File) != 0)
            return fail(why);
        out->push_back(a);
    }
    return 0;
}

std::string SettingsTextOf(const char* configText, const char* mac, const char* serial)
{
    RecordTable t;
    ClearRecordTable(&t);
    ParseConfigTextInto(&t, configText, std::strlen(configText), nullptr, nullptr);
    CfgFormState state;
    CfgFormFromRecords(t, mac, &state);
    std::string s = std::string(kSaveHeader) + EscapeValue(serial) + " (" + HeaderMac(mac) + ")\n";
    for (const CfgField& f : kCfgFields) {
        if (!f.writable)
            continue;
        const char* key = KeyTable[f.key].key;
        if (!(state.reported & CfgKeyBit(f.key))) {
            // Nothing to restore: load must not invent a value for it.
            s += std::string("# ") + key +
                 (f.kind == CfgKind::Choice ? " has no valid code on the device\n"
                                            : " was not reported by the device\n");
            continue;
        }
        char v[kValueSize + 8];
        if (f.kind == CfgKind::Number) {
            uint32_t number = 0;
            ParseCfgNumber(state.*f.box, &number);
            std::snprintf(v, sizeof v, "%u", number);
        } else {
            CfgValueText(state.values, f.key, v, sizeof v);
        }
        s += std::string(key) + " = " + EscapeValue(v) + "\n";
    }
    return s;
}

BackupOwner KeepIdentity(const SavedFrom& from, const std::string& serial, const std::string& mac,
                         bool withIdentity, std::vector<Assignment>* changes, FILE* err)
{
    const BackupOwner owner = WhoseBackup(from, serial, mac);
    if (owner == BackupOwner::OwnBySerial)
        std::fprintf(err, "pathlume-cli: The file names no MAC address; taken as this device's own "
                          "backup by its serial number.\n");
    if (owner == BackupOwner::Other && !withIdentity) {
        const auto identity = [](const Assignment& a) {
            return a.key == KEY_IP || a.key == KEY_HOST_NAME;
        };
        const auto kept = std::remove_if(changes->begin(), changes->end(), identity);
        if (kept != changes->end()) {
            changes->erase(kept, changes->end());
            std::fprintf(err, "pathlume-cli: Kept this device's IP and HOST_NAME; --with-identity "
                              "writes them too.\n");
        }
    }
    return owner;
}

}  // namespace cli
