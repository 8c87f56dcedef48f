// Sends the program's log to a file of its own while a test runs, and checks
// whole lines in it.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Log.h"
#include "LogView.h"
#include "TestSupport.h"

namespace fwtest
{
class LogCapture
{
public:
    explicit LogCapture(int verbosity = DEFAULT_LOG_VERBOSITY) : m_dir("fwlog"), m_path(m_dir.File("test.log"))
    {
        SetLogFile(m_path.c_str());
        SetLogVerbosity(verbosity);
    }
    ~LogCapture()
    {
        SetLogFile("");
        SetLogVerbosity(DEFAULT_LOG_VERBOSITY);
    }
    std::vector<std::string> Lines() const { return ReadLines(m_path); }
    // What was logged, for checks that show the log when they fail.
    LogView View() const
    {
        std::string bytes;
        ReadBytes(m_path, bytes);
        return LogView(m_path, bytes);
    }
    std::string Text() const { return View().Text(); }
    ::testing::AssertionResult Contains(const std::string& part) const { return View().Contains(part); }
    // Each wanted line is in the log, whole (a banner line without its date).
    ::testing::AssertionResult Has(const std::vector<std::string>& wanted) const
    {
        LogView view = View();
        for (const std::string& line : wanted)
            if (!view.HasLine(line))
                return view.HasLine(line);
        return ::testing::AssertionSuccess();
    }

private:
    TempDir m_dir;
    std::string m_path;
};
} // namespace fwtest
