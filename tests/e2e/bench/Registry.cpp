// Registry and file checks.
#include "Scenario.h"

namespace fwe2e
{
// --- checks -----------------------------------------------------------------

static std::string Printable(DWORD type, const std::string& data)
{
    if (type == REG_DWORD && data.size() >= 4)
        return "dword " + std::to_string(*(const DWORD*)data.data());
    if (type == REG_SZ || type == REG_EXPAND_SZ)
        return "\"" + std::string(data.c_str()) + "\"";
    return "type " + std::to_string(type) + ", " + std::to_string(data.size()) + " bytes";
}

enum Found
{
    BAD_PATH,
    NO_KEY,
    NO_VALUE,
    FOUND
};

static Found Lookup(const std::string& keyPath, const std::string& name, DWORD& type, std::string& data)
{
    HKEY root, key;
    std::string subkey;
    if (!fwtest::ParseRegPath(keyPath, root, subkey))
        return BAD_PATH;
    if (RegOpenKeyExA(root, subkey.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return NO_KEY;
    bool present = fwtest::ReadRegValue(key, name, type, data);
    RegCloseKey(key);
    return present ? FOUND : NO_VALUE;
}

::testing::AssertionResult RegValueIs(const std::string& key, const std::string& name,
                                      const std::string& expected)
{
    DWORD type = 0;
    std::string data;
    Found found = Lookup(key, name, type, data);
    if (found == FOUND && (type == REG_SZ || type == REG_EXPAND_SZ) && std::string(data.c_str()) == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "value \"" << name << "\" of " << key << " is "
           << (found == FOUND ? Printable(type, data) : found == BAD_PATH ? "on a bad path" : "absent")
           << ", expected \"" << expected << "\"";
}

::testing::AssertionResult RegValueAbsent(const std::string& key, const std::string& name)
{
    DWORD type = 0;
    std::string data;
    Found found = Lookup(key, name, type, data);
    if (found == NO_KEY || found == NO_VALUE)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "value \"" << name << "\" of " << key << " is "
                                         << (found == FOUND ? Printable(type, data) : "on a bad path");
}

::testing::AssertionResult RegKeyAbsent(const std::string& key)
{
    DWORD type = 0;
    std::string data;
    Found found = Lookup(key, "", type, data);
    if (found == NO_KEY)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "key " << key << (found == BAD_PATH ? " is a bad path" : " exists");
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

::testing::AssertionResult FileContains(const std::string& path, const std::string& part)
{
    std::string bytes;
    if (!fwtest::ReadBytes(path, bytes))
        return ::testing::AssertionFailure() << "cannot read " << path;
    if (bytes.find(part) != std::string::npos)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << path << " (" << bytes.size() << " bytes) lacks \"" << part
                                         << "\"";
}

::testing::AssertionResult DirExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no folder " << path;
}
} // namespace fwe2e
