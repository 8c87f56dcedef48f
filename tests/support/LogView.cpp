#include "LogView.h"

#include "TestSupport.h"

namespace fwtest
{
// "DD/MM/YYYY HH:MM:SS\t": the date and time in front of a banner line.
static bool HasBannerStamp(const std::string& line)
{
    static const char pattern[] = "00/00/0000 00:00:00\t";
    if (line.size() < sizeof(pattern) - 1)
        return false;
    for (size_t i = 0; i < sizeof(pattern) - 1; ++i)
    {
        bool digit = line[i] >= '0' && line[i] <= '9';
        if (pattern[i] == '0' ? !digit : line[i] != pattern[i])
            return false;
    }
    return true;
}

LogView::LogView(std::string path, std::string text) : m_path(std::move(path)), m_text(std::move(text))
{
    for (size_t start = 0, end; start < m_text.size(); start = end + 1)
    {
        end = m_text.find('\n', start);
        if (end == std::string::npos)
            end = m_text.size();
        std::string line = m_text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        m_lines.push_back(HasBannerStamp(line) ? line.substr(20) : line);
    }
}

int LogView::Find(const std::string& exactLine, int from) const
{
    for (int i = from < 0 ? 0 : from; i < (int)m_lines.size(); ++i)
        if (m_lines[i] == exactLine)
            return i;
    return -1;
}

// Tabs and line ends made visible, so that "\tText" and "E\tText" differ in a message.
static std::string Visible(const std::string& text)
{
    return Expand(Expand(text, "\t", "\\t"), "\r", "\\r");
}

std::string LogView::Describe() const
{
    std::string out = "  log " + (m_path.empty() ? std::string("(none)") : m_path) + ", " +
                      std::to_string(m_lines.size()) + " lines of this run:\n";
    const size_t limit = 200;
    size_t first = m_lines.size() > limit ? m_lines.size() - limit : 0;
    if (first)
        out += "    ... (" + std::to_string(first) + " earlier lines)\n";
    for (size_t i = first; i < m_lines.size(); ++i)
        out += "    " + std::to_string(i) + ": " + Visible(m_lines[i]) + "\n";
    return out;
}

::testing::AssertionResult LogView::HasLine(const std::string& exactLine) const
{
    if (Find(exactLine) >= 0)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no line \"" << Visible(exactLine) << "\"\n" << Describe();
}

::testing::AssertionResult LogView::Contains(const std::string& part) const
{
    if (m_text.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no \"" << Visible(part) << "\" in the log\n" << Describe();
}

::testing::AssertionResult LogView::Lacks(const std::string& part) const
{
    if (m_text.find(part) == std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the log contains \"" << Visible(part) << "\"\n"
                                         << Describe();
}

::testing::AssertionResult LogView::InOrder(const std::vector<std::string>& exactLines) const
{
    int at = 0;
    for (size_t i = 0; i < exactLines.size(); ++i)
    {
        int found = Find(exactLines[i], at);
        if (found < 0)
        {
            int anywhere = Find(exactLines[i]);
            return ::testing::AssertionFailure()
                   << "line \"" << Visible(exactLines[i]) << "\" "
                   << (anywhere < 0 ? std::string("is missing")
                                    : "comes too early (line " + std::to_string(anywhere) + ")")
                   << (i ? " after \"" + Visible(exactLines[i - 1]) + "\"" : std::string()) << "\n"
                   << Describe();
        }
        at = found + 1;
    }
    return ::testing::AssertionSuccess();
}
} // namespace fwtest
