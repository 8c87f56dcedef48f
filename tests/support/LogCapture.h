// Sends the program's log to a file of its own while a test runs, and checks
// whole lines in it.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Log.h"
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
    // Forgets what was logged so far.
    void Clear() const { DeleteFileA(m_path.c_str()); }
    // The log, one text, CR LF between lines.
    std::string Text() const
    {
        std::string all;
        for (const std::string& line : Lines())
            all += line + "\r\n";
        return all;
    }
    ::testing::AssertionResult Contains(const std::string& part) const
    {
        if (Text().find(part) != std::string::npos)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "not in the log: [" << part << "]\n" << Text();
    }
    // Each wanted line is in the log, whole; the log is shown when one is not.
    ::testing::AssertionResult Has(const std::vector<std::string>& wanted) const
    {
        std::vector<std::string> lines = Lines();
        for (const std::string& line : wanted)
            if (std::find(lines.begin(), lines.end(), line) == lines.end())
            {
                std::string all;
                for (const std::string& seen : lines)
                    all += seen + "\n";
                return ::testing::AssertionFailure() << "not in the log: [" << line << "]\n" << all;
            }
        return ::testing::AssertionSuccess();
    }

private:
    TempDir m_dir;
    std::string m_path;
};
} // namespace fwtest
