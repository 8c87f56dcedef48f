#include "Planted.h"

#include <sstream>

#include "TestSupport.h"

namespace fwe2e
{
namespace
{
struct PlantedName
{
    std::string name, kind, file; // file: the name with ".dll" where it has no ending
};

// The names and their kinds, as tests/fixtures/planted/libraries.txt gives them.
std::vector<PlantedName> PlantedNames()
{
    const std::string list = fwtest::SourceDir() + "\\tests\\fixtures\\planted\\libraries.txt";
    std::string text;
    EXPECT_TRUE(fwtest::ReadBytes(list, text)) << list;
    std::vector<PlantedName> names;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
    {
        std::istringstream words(line);
        PlantedName name;
        if (!(words >> name.name >> name.kind) || name.name[0] == '#')
            continue;
        name.file = name.name.find('.') == std::string::npos ? name.name + ".dll" : name.name;
        names.push_back(name);
    }
    EXPECT_FALSE(names.empty()) << list;
    return names;
}
} // namespace

Planted::Planted(Scenario& s, const std::string& exeName, bool separateCurrent) : m_record(s.Root() + "\\planted.log")
{
    m_current = separateCurrent ? s.Folder("current") : s.Dir();
    const std::string key = "HKCU\\Software\\Wine\\AppDefaults\\" + exeName + "\\DllOverrides";
    for (const PlantedName& name : PlantedNames())
    {
        if (name.kind != "current")
        {
            EXPECT_TRUE(s.CopyFromBin("planted.dll", name.file));
        }
        if (separateCurrent)
        {
            EXPECT_TRUE(s.CopyFromBin("planted.dll", m_current + "\\" + name.file));
        }
        if (name.kind != "known")
        {
            EXPECT_TRUE(s.SetRegString(key, name.name, "native,builtin"));
        }
    }
    SetEnvironmentVariableA("FW_PLANT_LOG", m_record.c_str());
    if (separateCurrent)
        s.SetCurrentDir(m_current);
}

Planted::~Planted()
{
    SetEnvironmentVariableA("FW_PLANT_LOG", NULL);
}

std::string Planted::Loaded() const
{
    std::string text;
    fwtest::ReadBytes(m_record, text);
    return text;
}
} // namespace fwe2e
