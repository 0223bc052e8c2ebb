// pathlume-cli: the command-line front end; see cli.h.
#include <cstdio>

#include "cli.h"

int main(int argc, char** argv)
{
    return cli::Main(argc, argv, stdout, stderr);
}
