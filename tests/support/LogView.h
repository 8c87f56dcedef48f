// The lines a log file holds, for checks that show the whole log when they
// fail.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fwtest
{
// The lines one run wrote into a log file. Lines are split at LF (a CR before
// it is dropped), so a multi-line message becomes several lines. Banner lines
// ("DD/MM/YYYY HH:MM:SS<TAB>text") are compared without their date and time;
// every other line is compared exactly, kind prefix included ("\t", "W\t",
// "E\t").
class LogView
{
public:
    LogView() = default;
    LogView(std::string path, std::string text);

    const std::string& Path() const { return m_path; }
    const std::string& Text() const { return m_text; }
    const std::vector<std::string>& Lines() const { return m_lines; }

    int Find(const std::string& exactLine, int from = 0) const;   // index or -1

    ::testing::AssertionResult HasLine(const std::string& exactLine) const;
    ::testing::AssertionResult Contains(const std::string& part) const;
    ::testing::AssertionResult Lacks(const std::string& part) const;
    // The lines appear in this order (others may lie between them).
    ::testing::AssertionResult InOrder(const std::vector<std::string>& exactLines) const;

    std::string Describe() const; // the whole text, indented, for messages

private:
    std::string m_path;
    std::string m_text;
    std::vector<std::string> m_lines; // banner date removed
};
} // namespace fwtest
