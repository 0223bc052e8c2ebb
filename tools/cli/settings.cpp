// pathlume-cli: settings files, as save writes them and load reads them.
//
// A file is "KEY = value" lines, each ended by a line end; a line whose first
// non-blank character is '#' is a comment, and so is a blank line. A value is
// everything after the '=', without the blanks around it, with the escapes
// \\ \r \n \t \xNN for the bytes that cannot stand in a line. The first line
// of a saved file names the device it came from.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cfgrules.h"
#include "cli.h"
#include "codec.h"
#include "internal.h"

namespace cli {

const char kSaveHeader[] = "# pathlume-cli save of ";

namespace {

std::string Reason(int error)
{
    return std::strerror(error);
}

// Reads at most limit + 1 bytes from fd into *text.
bool ReadLimited(int fd, size_t limit, std::string* text, int* error)
{
    text->clear();
    char buf[8192];
    while (text->size() <= limit) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            *error = errno;
            return false;
        }
        text->append(buf, static_cast<size_t>(n));
    }
    return true;
}

}  // namespace

bool ReadSettingsFile(const std::string& name, std::string* text, std::string* error)
{
    const bool stdinput = name == "-";
    const std::string shown = stdinput ? std::string("standard input") : name;
    int fd = 0;
    if (!stdinput) {
        // Opened without waiting (a FIFO would block an open for reading),
        // then looked at before a byte is read.
        fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) {
            *error = "Cannot read " + SafeText(shown) + ": " + Reason(errno) + ".";
            return false;
        }
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const bool dir = S_ISDIR(st.st_mode);
            close(fd);
            *error = "Cannot read " + SafeText(shown) + ": " +
                     (dir ? "it is a directory" : "not a regular file") + ".";
            return false;
        }
        const int flags = fcntl(fd, F_GETFL);
        if (flags >= 0)
            fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    int why = 0;
    const bool ok = ReadLimited(fd, kMaxSettingsFile, text, &why);
    if (!stdinput)
        close(fd);
    if (!ok) {
        *error = "Cannot read " + SafeText(shown) + ": " + Reason(why) + ".";
        return false;
    }
    if (text->size() > kMaxSettingsFile) {
        *error = "Cannot read " + SafeText(shown) + ": it is larger than 64 KiB.";
        return false;
    }
    return true;
}

bool WriteFileReplacing(const std::string& name, const std::string& text, std::string* error)
{
    std::string temp = name + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *error = "Cannot write " + SafeText(name) + ": " + Reason(errno) + ".";
        return false;
    }
    // As an ordinary new file would be: readable by whom the umask allows.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    int failed = 0;
    for (size_t done = 0; done < text.size() && failed == 0;) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno != EINTR)
            failed = errno;
        else if (n > 0)
            done += static_cast<size_t>(n);
    }
    if (failed == 0 && fsync(fd) != 0)
        failed = errno;
    if (close(fd) != 0 && failed == 0)
        failed = errno;
    if (failed == 0 && std::rename(temp.c_str(), name.c_str()) != 0)
        failed = errno;
    if (failed != 0) {
        unlink(temp.c_str());
        *error = "Cannot write " + SafeText(name) + ": " + Reason(failed) + ".";
        return false;
    }
    return true;
}

int ParseSettingsText(const std::string& text, const std::string& name,
                      std::vector<Assignment>* out, std::string* error, std::string* source)
{
    out->clear();
    if (source)
        source->clear();
    const std::string shown = SafeText(name == "-" ? std::string("standard input") : name);
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
        if (n == 1 && source && t.rfind(kSaveHeader, 0) == 0) {
            // "# pathlume-cli save of SERIAL (MAC)"
            const std::string rest = t.substr(std::strlen(kSaveHeader));
            *source = rest.substr(0, rest.rfind(" ("));
        }
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
    ParseConfigTextInto(&t, configText, nullptr, nullptr);
    CfgFormState state;
    CfgFormFromRecords(t, mac, &state);
    std::string s = std::string(kSaveHeader) + EscapeValue(serial) + " (" + EscapeValue(mac) + ")\n";
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

}  // namespace cli
