#include "Distribution.h"

#include <algorithm>
#include <sstream>

#include "Scenario.h"
#include "Sha256.h"
#include "TestSupport.h"

namespace fwe2e
{
namespace
{
typedef std::vector<std::pair<std::string, std::string>> Pairs;

void Put(Pairs& pairs, const std::string& key, const std::string& value)
{
    for (auto& pair : pairs)
        if (pair.first == key)
        {
            pair.second = value;
            return;
        }
    pairs.push_back({key, value});
}

void Drop(Pairs& pairs, const std::string& key)
{
    auto named = [&](const Pairs::value_type& pair) { return pair.first == key; };
    pairs.erase(std::remove_if(pairs.begin(), pairs.end(), named), pairs.end());
}

std::string Trim(const std::string& text)
{
    size_t from = text.find_first_not_of(' ');
    size_t to = text.find_last_not_of(' ');
    return from == std::string::npos ? "" : text.substr(from, to - from + 1);
}
} // namespace

Distribution::Distribution()
{
    m_settings = {{"BASE_URL", "http://downloads.example/LU/6.2/"},
                  {"MemberState", "LU"},
                  {"IniVersion", "6.2"},
                  {"ExeVersion", "6.2.0.5"},
                  {"DotNet", "no"},
                  {"Threading", "Off"},
                  {"DefaultTargetDir", "<ProgramFiles>\\ZAPH"},
                  {"MSI_Version", "200"},
                  {"MSI_NT", "setup\\instmsiw.exe"},
                  {"MSI_9X", "setup\\instmsia.exe"}};
    m_labels = {{"Caption", "%s ZAPH Setup [%hs]"},
                {"Organisation", "Ombrant"},
                {"Header", "ZAPH Setup and Upgrade"},
                {"Branding", "Ombrant ZAPH"},
                {"CancelButton", "Cancel"},
                {"ProceedButton", "Proceed"},
                {"InvalidValue", "The setting '%s' of the settings file is missing or invalid."},
                {"ErrorOccurred", "An error occurred:|%s"},
                {"Initialising", "Initialising"},
                {"InstallSystem", "Installing the system"},
                {"PleaseWait", "Please wait: %s"},
                {"Success", "ZAPH has been installed successfully."},
                {"WasAbandoned", "The installation was abandoned."},
                {"NoUpgrade", "There is nothing to upgrade."},
                {"MadeBackup", "Have you made a backup of your data?"},
                {"AfterBackup", "Please make a backup first."},
                {"InUse", "ZAPH is in use. Please close it first."},
                {"WarnNotAdmin", "You are not an administrator."},
                {"UpgradeServerFirst", "Please upgrade the server first."},
                {"CannotInstallPre", "The system components cannot be installed on this system."},
                {"FailInstallPre", "A system component could not be installed."},
                {"AllowPreUpgrade", "Install the missing system components?"},
                {"ShouldUpgradeV11", "Please install the service pack of the .NET Framework 1.1."},
                {"MustBeAdmin", "Only an administrator can do this."},
                {"Reboot", "Please restart the computer."},
                {"AllowUpdateMSI", "Upgrade the Windows Installer?"},
                {"FailInstallMSI", "The Windows Installer could not be upgraded."},
                {"FailLoadMSI", "The Windows Installer could not be loaded."},
                {"NoInstallation", "There is no usable installation in %hs."},
                {"UninstallFail", "The earlier package could not be removed."},
                {"ConfirmCancel", "Stop the setup?"},
                {"LanguageSelection", "Choose the languages."},
                {"PostInstallCheck", "Checking the installed system"},
                {"CannotMove", "%hs cannot be moved to %hs."},
                {"CannotMoveSub", "%hs and %hs lie inside one another."},
                {"CannotCopy", "%hs could not be copied to %hs."},
                {"HasMoved", "ZAPH has moved from %hs to %hs."}};
    m_languages = {"EN"};
    m_sections["Components"] = {"<MS>\\ms.mdb=V6.2.0.0"};
    m_sections["Additional"] = {"<MS>\\news.txt=Any"};
    m_sections["CheckSums"] = {"<MS>\\ms.mdb=00000000"};
}

Distribution& Distribution::Set(const std::string& key, const std::string& value)
{
    Put(m_settings, key, value);
    return *this;
}

Distribution& Distribution::Line(const std::string& section, const std::string& line)
{
    m_sections[section].push_back(line);
    return *this;
}

Distribution& Distribution::File(const std::string& relative, const std::string& bytes)
{
    m_files.push_back({relative, bytes});
    return *this;
}

Distribution& Distribution::Web()
{
    m_local = false;
    return *this;
}

std::string Distribution::Find(const Pairs& pairs, const std::string& key)
{
    for (const auto& pair : pairs)
        if (pair.first == key)
            return pair.second;
    return "";
}

Distribution& Distribution::Apply(const std::string& changes)
{
    std::istringstream in(changes);
    std::string item;
    while (std::getline(in, item, ';'))
    {
        item = Trim(item);
        bool label = !item.empty() && item[0] == '@';
        Pairs& pairs = label ? m_labels : m_settings;
        std::string body = label ? item.substr(1) : item;
        size_t eq = body.find('=');
        std::string key = body.substr(0, eq);
        std::string value = eq == std::string::npos ? "" : body.substr(eq + 1);
        if (item.empty())
            continue;
        else if (item == "web")
            Web();
        else if (key == "langs")
        {
            m_languages.clear();
            std::istringstream codes(value);
            for (std::string code; codes >> code;)
                m_languages.push_back(code);
        }
        else if (key[0] == '+')
        {
            // A line's own ";" would end the change: written as "|".
            std::replace(value.begin(), value.end(), '|', ';');
            Line(key.substr(1), value);
        }
        else if (key == "file")
            File(value, "");
        else if (key == "tampered")
            m_tampered.push_back(value);
        else if (key == "standin")
            m_copies.push_back({"fw_standin.exe", value});
        else if (key == "package")
        {
            m_package = value;
            for (const std::string& code : m_languages)
            {
                std::string folder = Find(m_settings, "SYS_LN_DIR");
                m_copies.push_back({"packages\\" + value + "\\Sys_" + code + ".msi",
                                    (folder.empty() ? "" : folder + "\\") + "Sys_" + code + ".msi"});
            }
        }
        else if (eq == std::string::npos && !key.empty() && key.back() == '-')
            Drop(pairs, key.substr(0, key.size() - 1));
        else if (label && value.empty())
            Drop(pairs, key);
        else
            Put(pairs, key, value);
    }
    return *this;
}

std::string Distribution::SettingsText() const
{
    std::string text = "[Settings]\n";
    for (const auto& setting : m_settings)
        text += setting.first + "=" + setting.second + "\n";
    for (const char* section : {"Components", "Additional", "CheckSums"})
    {
        text += std::string("[") + section + "]\n";
        auto lines = m_sections.find(section);
        if (lines != m_sections.end())
            for (const std::string& line : lines->second)
                text += line + "\n";
    }
    // As the release tool lists them: the digests of the programs and packages
    // a WEB run downloads and checks before it runs them (a tampered one is
    // listed as it was before the change).
    if (!m_local && !m_copies.empty())
    {
        text += "[SHA256]\n";
        for (const auto& copy : m_copies)
        {
            char digest[SHA256_TEXT_SIZE] = "";
            Sha256OfFile((fwtest::BinDir() + "\\" + copy.first).c_str(), digest);
            text += copy.second + "=" + digest + "\n";
        }
    }
    for (const std::string& code : m_languages)
    {
        text += "[Labels_" + code + "]\n";
        for (const auto& label : m_labels)
            text += label.first + "=" + label.second + "\n";
        text += "SelectLanguage=Language " + code + "\n";
    }
    return text;
}

std::string Distribution::FirstLanguage() const
{
    std::string code = m_languages.empty() ? "" : m_languages[0];
    for (char& c : code)
        c = (char)tolower((unsigned char)c);
    return code;
}

std::string Distribution::Title() const
{
    std::string version = Find(m_settings, "IniVersion");
    return "Ombrant ZAPH Setup [" + (m_languages.empty() ? std::string() : m_languages[0]) + "]" +
           (version.empty() ? "" : " " + version);
}

::testing::AssertionResult Distribution::WriteTo(Scenario& s) const
{
    ::testing::AssertionResult written = s.WriteUnicodeFile("Zaph.ini", SettingsText());
    if (written && m_local)
        written = s.WriteFile("_FW_LOCAL_.txt", "");
    for (const auto& file : m_files)
        if (written)
            written = s.WriteFile(file.first, file.second);
    for (const auto& copy : m_copies)
        if (written)
            written = s.CopyFromBin(copy.first, copy.second);
    for (const std::string& relative : m_tampered)
    {
        std::string bytes;
        if (written && !(fwtest::ReadBytes(s.Path(relative), bytes) && !bytes.empty()))
            written = ::testing::AssertionFailure() << "nothing to tamper with in " << relative;
        if (written)
        {
            bytes[bytes.size() / 2] ^= 1;
            written = s.WriteFile(relative, bytes);
        }
    }
    return written;
}
} // namespace fwe2e
