// The distribution folder of a release as a builder: the settings file
// Zaph.ini (settings, component sections, one label section per language)
// and the files that lie beside it (stand-ins, packages, data archives).
// Starts as the release the scenarios play (IniVersion 6.2, member state LU,
// English, LOCAL by the marker file); a scenario changes only what it needs:
//
//     fwe2e::Distribution dist;
//     dist.Apply("DotNet=yes; MSI_Version-; @MadeBackup-; langs=EN FR");
//     dist.File("setup\\dotnetfx.exe", "");            // or "standin=setup\\dotnetfx.exe"
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

    // A [Settings] key: set (added at the end when new).
    Distribution& Set(const std::string& key, const std::string& value);
    // A line of [Components], [Additional] or [CheckSums].
    Distribution& Line(const std::string& section, const std::string& line);
    // A file beside the settings file (relative to the folder).
    Distribution& File(const std::string& relative, const std::string& bytes);
    // WEB mode: no marker file, the program is not setup.exe.
    Distribution& Web();
    // Changes written as one line, separated by ";": "Key=Value" and "Key-"
    // for settings, "@Key=Text" and "@Key-" for labels (an empty text removes
    // the label too), "langs=EN FR", "web", "file=<relative>" (an empty file),
    // "+Components=<line>" (a line of that section, "|" for its ";"),
    // "standin=<relative>" (bin\fw_standin.exe), "package=<release folder>"
    // (the test package of every language so far, from bin\packages, into
    // SYS_LN_DIR when set), "tampered=<relative>" (one byte of that file
    // changed after it is copied). In WEB mode the copies' digests are listed.
    Distribution& Apply(const std::string& changes);

    // The release folder of the last "package=" change ("" none).
    const std::string& Package() const { return m_package; }
    std::string SettingsText() const;
    // The first language's code in lower case, as package names carry it.
    std::string FirstLanguage() const;
    // The progress window's caption in the first language.
    std::string Title() const;
    ::testing::AssertionResult WriteTo(Scenario& s) const;

private:
    typedef std::vector<std::pair<std::string, std::string>> Pairs;
    static std::string Find(const Pairs& pairs, const std::string& key);
    Pairs m_settings;
    Pairs m_labels;
    std::vector<std::string> m_languages;
    std::map<std::string, std::vector<std::string>> m_sections;
    Pairs m_files;
    Pairs m_copies; // from bin: source, target
    std::vector<std::string> m_tampered;
    std::string m_package;
    bool m_local = true;
};
} // namespace fwe2e
