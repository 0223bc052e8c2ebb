// Keeps a test program's writes out of the user's own journal: before the
// first test, the journal's folder variable (XDG_STATE_HOME; LOCALAPPDATA on
// Windows) points at a fresh temporary folder, removed after the last.
// Tests that look at the journal read JournalPath().
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "portable.h"

namespace testrig {

class JournalSandbox : public ::testing::Environment {
public:
    void SetUp() override
    {
        dir_ = MakeTempFolder("pathlume-state-");
        ASSERT_FALSE(dir_.empty());
        SetEnv(kStateVariable, dir_);
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    const std::string& dir() const { return dir_; }

private:
    std::string dir_;
};

// Registers the sandbox once per program; returns it.
inline JournalSandbox* InstallJournalSandbox()
{
    static JournalSandbox* const sandbox = [] {
        auto* s = new JournalSandbox;
        ::testing::AddGlobalTestEnvironment(s);   // gtest owns it
        return s;
    }();
    return sandbox;
}

}  // namespace testrig
