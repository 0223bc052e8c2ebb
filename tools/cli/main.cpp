// pathlume-cli: the command-line front end; see cli.h.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli.h"
#include "cliplatform.h"

int main(int argc, char** argv)
{
    // Bytes out as they are written; a closed standard output fails as it must.
    cli::PrepareStandardStreams();
    // Ctrl-C ends a request as Stop does; the command then reports what it has.
    cli::CatchInterrupt();
    const int r = cli::Main(argc, argv, stdout, stderr);
    // Standard output is closed here so that a failure of its last write
    // cannot pass unnoticed.
    if (std::fclose(stdout) != 0 && r == cli::kExitOk) {
        std::fprintf(stderr, "pathlume-cli: Cannot write standard output: %s.\n", std::strerror(errno));
        return cli::kExitOutput;
    }
    return r;
}
