// The distribution folder of a release as a builder: the settings file
// Zaph.ini (settings, component sections, one label section per language)
// and the files that lie beside it (stand-ins, packages, data archives).
// Starts as the release the scenarios play (IniVersion 6.2, member state LU,
// English, LOCAL by the marker file); a scenario changes only what it needs:
//
//     fwe2e::Distribution dist;
//     dist.Apply("DotNet=yes; MSI_Version-; @MadeBackup-; langs=EN FR");
//     dist.File("setup\\dotnetfx.exe", "");            // or Copy from bin
//     ASSERT_TRUE(dist.WriteTo(s));
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace fwe2e
{
class Scenario;

class Distribution
{
public:
    Distribution();

    // A [Settings] key: set (added at the end when new) or removed.
    Distribution& Set(const std::string& key, const std::string& value);
    Distribution& Remove(const std::string& key);
    // The label sections, in this order ("EN FR").
    Distribution& Languages(const std::string& codes);
    // A label of every language: set, or removed with an empty text.
    Distribution& Label(const std::string& key, const std::string& text);
    // A line of [Components], [Additional] or [CheckSums].
    Distribution& Line(const std::string& section, const std::string& line);
    // A file beside the settings file (relative to the folder).
    Distribution& File(const std::string& relative, const std::string& bytes);
    // A program or package of the build's bin folder, placed under relative.
    Distribution& Copy(const std::string& binName, const std::string& relative);
    // WEB mode: no marker file, the program is not setup.exe.
    Distribution& Web();
    // Changes written as one line, separated by ";": "Key=Value" and "Key-"
    // for settings, "@Key=Text" and "@Key-" for labels, "langs=EN FR",
    // "web", "file=<relative>" (an empty file), "package=<release folder>"
    // (the test package of every language so far, from bin\packages, into
    // SYS_LN_DIR when set).
    Distribution& Apply(const std::string& changes);

    std::string SettingsText() const;
    // The first language's code in lower case, as package names carry it.
    std::string FirstLanguage() const;
    // The progress window's caption in the first language.
    std::string Title() const;
    ::testing::AssertionResult WriteTo(Scenario& s) const;

private:
    std::vector<std::pair<std::string, std::string>> m_settings;
    std::vector<std::pair<std::string, std::string>> m_labels;
    std::vector<std::string> m_languages;
    std::map<std::string, std::vector<std::string>> m_sections;
    std::vector<std::pair<std::string, std::string>> m_files;
    std::vector<std::pair<std::string, std::string>> m_copies;
    bool m_local = true;
};
} // namespace fwe2e
