// Registry and file checks.
#include "Scenario.h"

namespace fwe2e
{
// The value as a failure shows it ("\"text\"", "dword 5", "type 3, 8 bytes"),
// "" when neither it nor its key is there.
static std::string Shown(const std::string& keyPath, const std::string& name)
{
    HKEY root, key;
    std::string subkey, data;
    DWORD type = 0;
    if (!fwtest::ParseRegPath(keyPath, root, subkey))
        return "on a bad path";
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return "";
    bool present = fwtest::ReadRegValue(key, name, type, data);
    RegCloseKey(key);
    if (!present)
        return "";
    if (type == REG_DWORD && data.size() >= 4)
        return "dword " + std::to_string(*(const DWORD*)data.data());
    if (type == REG_SZ || type == REG_EXPAND_SZ)
        return "\"" + std::string(data.c_str()) + "\"";
    return "type " + std::to_string(type) + ", " + std::to_string(data.size()) + " bytes";
}

::testing::AssertionResult RegValueIs(const std::string& key, const std::string& name,
                                      const std::string& expected)
{
    std::string shown = Shown(key, name);
    if (shown == "\"" + expected + "\"")
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "value \"" << name << "\" of " << key << " is "
                                         << (shown.empty() ? "absent" : shown) << ", expected \"" << expected
                                         << "\"";
}

::testing::AssertionResult RegValueAbsent(const std::string& key, const std::string& name)
{
    std::string shown = Shown(key, name);
    if (shown.empty())
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "value \"" << name << "\" of " << key << " is " << shown;
}

::testing::AssertionResult FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no file " << path
                                         << (attributes != INVALID_FILE_ATTRIBUTES ? " (a folder)" : "");
}

::testing::AssertionResult FileAbsent(const std::string& path)
{
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << path << " exists";
}

::testing::AssertionResult DirExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no folder " << path;
}
} // namespace fwe2e
