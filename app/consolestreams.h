// The window program on Windows has no console of its own: before it
// answers --help or --version, its standard output and error that lead
// nowhere are given the console it was started from, if any (a stream
// redirected to a file or a pipe stays as it is). Nothing on other systems.
#pragma once

#ifdef _WIN32
void UseParentConsole();
#else
inline void UseParentConsole() {}
#endif
