// What the test programs need of the system beyond the C++ library, the
// same on POSIX and Windows (portable.cpp holds the calls): environment
// variables, fresh temporary folders, the journal's place, programs beside
// the test program, and whether file modes bind the test.
#pragma once

#include <cstdio>
#include <string>

namespace testrig {

void SetEnv(const char* name, const std::string& value);
void UnsetEnv(const char* name);

// A temporary file opened for reading and writing bytes, removed when
// closed (std::tmpfile, which on Windows would make it in the drive's root).
FILE* TempFile();

// A new, empty folder under ::testing::TempDir() whose name starts with
// prefix; "" when none could be made.
std::string MakeTempFolder(const std::string& prefix);

// The variable that holds the journal's folder, and the journal's path
// under a given value of it (JournalPath() in journal.h).
extern const char kStateVariable[];   // XDG_STATE_HOME, or LOCALAPPDATA on Windows
std::string JournalPathIn(const std::string& state);

// The file that reads empty and swallows writes: "/dev/null", or "NUL".
extern const char kNullDevice[];

// A command line that runs the program at path with the given arguments,
// for popen: the program quoted as the system's shell needs.
std::string CommandLine(const std::string& path, const std::string& arguments);
// The exit status of a program run by popen, from what pclose returned.
int ExitStatusOf(int pcloseResult);

// Whether a folder without write permission keeps this process from
// writing into it: not for root, and never on Windows, where a folder's
// read-only mark binds nobody.
bool FolderModesBind();

// Whether this process runs with root's rights (never on Windows).
bool IsRoot();

}  // namespace testrig
