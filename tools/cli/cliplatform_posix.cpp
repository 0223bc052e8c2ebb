// pathlume-cli's platform calls on POSIX; see cliplatform.h.
#include "cliplatform.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace cli {

namespace {

void OnInterrupt(int)
{
    RequestInterrupt();
}

}  // namespace

void PrepareStandardStreams()
{
    if (fcntl(STDOUT_FILENO, F_GETFD) < 0 && errno == EBADF) {
        const int fd = open("/dev/null", O_RDONLY);
        if (fd >= 0 && fd != STDOUT_FILENO) {
            dup2(fd, STDOUT_FILENO);
            close(fd);
        }
    }
}

void CatchInterrupt()
{
    std::signal(SIGINT, OnInterrupt);
}

bool IsTerminal(FILE* f)
{
    return isatty(fileno(f)) != 0;
}

int OpenRegularFile(const std::string& name, std::string* why)
{
    // Opened without waiting (a FIFO would block an open for reading),
    // then looked at before a byte is read.
    const int fd = open(name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *why = std::strerror(errno);
        return -1;
    }
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *why = S_ISDIR(st.st_mode) ? "it is a directory" : "not a regular file";
        close(fd);
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0)
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

long ReadSome(int handle, char* buf, size_t size, std::string* why)
{
    for (;;) {
        const ssize_t n = read(handle, buf, size);
        if (n >= 0)
            return static_cast<long>(n);
        if (errno != EINTR) {
            *why = std::strerror(errno);
            return -1;
        }
    }
}

void CloseRegularFile(int handle)
{
    close(handle);
}

bool ReplaceFileWith(const std::string& name, const std::string& text, std::string* why)
{
    std::string temp = name + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) {
        *why = std::strerror(errno);
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
        *why = std::strerror(failed);
        return false;
    }
    return true;
}

}  // namespace cli
