// pathlume-cli's platform calls on Windows; see cliplatform.h.
#include "cliplatform.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "cli.h"
#include "protocol.h"

namespace cli {

namespace {

BOOL WINAPI OnConsoleControl(DWORD event)
{
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT)
        return FALSE;   // closing the console, logging off: the system's way
    RequestInterrupt();
    return TRUE;
}

// The system's text for an error code, without its closing full stop.
std::string SystemText(DWORD error)
{
    char text[256];
    SystemErrorText(static_cast<int>(error), text, sizeof text);
    return text;
}

UINT g_consoleOutputPage = 0;

void RestoreConsoleOutputPage()
{
    SetConsoleOutputCP(g_consoleOutputPage);
}

}  // namespace

void PrepareStandardStreams()
{
    // Input typed at the console keeps its text mode, so that Ctrl-Z and
    // Enter still end it.
    for (FILE* f : {stdin, stdout, stderr})
        if (_fileno(f) >= 0 && !(f == stdin && IsTerminal(stdin)))
            _setmode(_fileno(f), _O_BINARY);
    // The program's text is UTF-8 (its manifest makes UTF-8 the process's
    // code page, so file names in messages are as typed); a console shows
    // it so while the program runs, and gets its own code page back after.
    if (IsTerminal(stdout) || IsTerminal(stderr)) {
        g_consoleOutputPage = GetConsoleOutputCP();
        if (g_consoleOutputPage != CP_UTF8 && g_consoleOutputPage != 0 && SetConsoleOutputCP(CP_UTF8))
            std::atexit(RestoreConsoleOutputPage);
    }
}

void CatchInterrupt()
{
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}

bool IsTerminal(FILE* f)
{
    const int fd = _fileno(f);
    const intptr_t h = fd >= 0 ? _get_osfhandle(fd) : -1;
    DWORD mode = 0;
    return h != -1 && GetConsoleMode(reinterpret_cast<HANDLE>(h), &mode) != 0;
}

int OpenRegularFile(const std::string& name, std::string* why)
{
    const DWORD attributes = GetFileAttributesA(name.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        *why = "it is a directory";
        return -1;
    }
    // Opening waits on nothing here (a pipe without a free end fails at
    // once); what is not a file on disk is refused before a byte is read.
    const int fd = _open(name.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) {
        *why = std::strerror(errno);
        return -1;
    }
    struct _stat64 st {};
    if (_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFMT) != _S_IFREG) {
        _close(fd);
        *why = "not a regular file";
        return -1;
    }
    return fd;
}

long ReadSome(int handle, char* buf, size_t size, std::string* why)
{
    const int n = _read(handle, buf, static_cast<unsigned>(size < INT_MAX ? size : INT_MAX));
    if (n < 0)
        *why = std::strerror(errno);
    return n;
}

void CloseRegularFile(int handle)
{
    _close(handle);
}

bool ReplaceFileWith(const std::string& name, const std::string& text, std::string* why)
{
    // A name beside the file that nothing has: _O_EXCL refuses one that
    // appeared since _mktemp_s chose it.
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 26 && fd < 0; ++attempt) {
        temp = name + ".XXXXXX";
        if (_mktemp_s(temp.data(), temp.size() + 1) != 0) {
            errno = EEXIST;   // every name of the pattern is taken
            break;
        }
        fd = _open(temp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                   _S_IREAD | _S_IWRITE);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *why = std::strerror(errno);
        return false;
    }
    int failed = 0;
    for (size_t done = 0; done < text.size() && failed == 0;) {
        const size_t left = text.size() - done;
        const int n = _write(fd, text.data() + done, static_cast<unsigned>(left < INT_MAX ? left : INT_MAX));
        if (n < 0)
            failed = errno;
        else
            done += static_cast<size_t>(n);
    }
    if (failed == 0 && _commit(fd) != 0)
        failed = errno;
    if (_close(fd) != 0 && failed == 0)
        failed = errno;
    if (failed != 0) {
        _unlink(temp.c_str());
        *why = std::strerror(failed);
        return false;
    }
    // The CRT's rename refuses a name that is taken; this replaces it.
    if (!MoveFileExA(temp.c_str(), name.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        *why = SystemText(GetLastError());
        _unlink(temp.c_str());
        return false;
    }
    return true;
}

}  // namespace cli
