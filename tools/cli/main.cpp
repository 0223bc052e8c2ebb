// pathlume-cli: the command-line front end; see cli.h.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace {

void OnInterrupt(int)
{
    cli::RequestInterrupt();
}

}  // namespace

int main(int argc, char** argv)
{
    // Started with standard output closed: hold its descriptor with one that
    // refuses writes, so that no socket takes its number and the output
    // fails as it must.
    if (fcntl(STDOUT_FILENO, F_GETFD) < 0 && errno == EBADF) {
        const int fd = open("/dev/null", O_RDONLY);
        if (fd >= 0 && fd != STDOUT_FILENO) {
            dup2(fd, STDOUT_FILENO);
            close(fd);
        }
    }
    // Ctrl-C ends a request as Stop does; the command then reports what it has.
    std::signal(SIGINT, OnInterrupt);
    const int r = cli::Main(argc, argv, stdout, stderr);
    // Standard output is closed here so that a failure of its last write
    // cannot pass unnoticed.
    if (std::fclose(stdout) != 0 && r == cli::kExitOk) {
        std::fprintf(stderr, "pathlume-cli: Cannot write standard output: %s.\n", std::strerror(errno));
        return cli::kExitOutput;
    }
    return r;
}
