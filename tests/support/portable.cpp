// The system calls behind portable.h.
#include "portable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace testrig {

#ifdef _WIN32
const char kStateVariable[] = "LOCALAPPDATA";
const char kNullDevice[] = "NUL";

void SetEnv(const char* name, const std::string& value)
{
    _putenv_s(name, value.c_str());
}

void UnsetEnv(const char* name)
{
    _putenv_s(name, "");   // an empty value removes the variable
}

FILE* TempFile()
{
    for (int attempt = 0; attempt < 26; ++attempt) {
        std::string name = ::testing::TempDir() + "pathlume-XXXXXX";
        if (_mktemp_s(name.data(), name.size() + 1) != 0)
            return nullptr;
        // D: removed when closed.
        if (FILE* f = std::fopen(name.c_str(), "w+bD"))
            return f;
    }
    return nullptr;
}

std::string MakeTempFolder(const std::string& prefix)
{
    for (int attempt = 0; attempt < 26; ++attempt) {
        std::string dir = ::testing::TempDir() + prefix + "XXXXXX";
        if (_mktemp_s(dir.data(), dir.size() + 1) != 0)
            return "";
        if (_mkdir(dir.c_str()) == 0)
            return dir;
    }
    return "";
}

std::string JournalPathIn(const std::string& state)
{
    return state + "\\pathlume\\writes.jsonl";
}

std::string CommandLine(const std::string& path, const std::string& arguments)
{
    // cmd /c keeps the quotes around the program only when the whole line
    // is quoted once more.
    return "\"\"" + path + "\" " + arguments + "\"";
}

int ExitStatusOf(int pcloseResult)
{
    return pcloseResult;
}

bool FolderModesBind()
{
    return false;
}

bool IsRoot()
{
    return false;
}
#else
const char kStateVariable[] = "XDG_STATE_HOME";
const char kNullDevice[] = "/dev/null";

void SetEnv(const char* name, const std::string& value)
{
    setenv(name, value.c_str(), 1);
}

void UnsetEnv(const char* name)
{
    unsetenv(name);
}

FILE* TempFile()
{
    return std::tmpfile();
}

std::string MakeTempFolder(const std::string& prefix)
{
    std::string dir = ::testing::TempDir() + prefix + "XXXXXX";
    return mkdtemp(dir.data()) ? dir : "";
}

std::string JournalPathIn(const std::string& state)
{
    return state + "/pathlume/writes.jsonl";
}

std::string CommandLine(const std::string& path, const std::string& arguments)
{
    return "'" + path + "' " + arguments;
}

int ExitStatusOf(int pcloseResult)
{
    return WIFEXITED(pcloseResult) ? WEXITSTATUS(pcloseResult) : -1;
}

bool FolderModesBind()
{
    return !IsRoot();
}

bool IsRoot()
{
    return geteuid() == 0;
}
#endif

}  // namespace testrig
