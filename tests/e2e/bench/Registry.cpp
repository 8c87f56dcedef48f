// Registry and file checks, and the undo steps of a scenario's machine state.
#include "BenchInternal.h"

namespace fwe2e
{
bool RegPath::Parse(const std::string& text)
{
    std::string path = text;
    view = KEY_WOW64_64KEY;
    if (path.compare(0, 3, "32:") == 0)
    {
        view = KEY_WOW64_32KEY;
        path = path.substr(3);
    }
    size_t slash = path.find('\\');
    std::string rootName = path.substr(0, slash);
    subkey = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    static const struct
    {
        const char* name;
        HKEY key;
    } roots[] = {{"HKLM", HKEY_LOCAL_MACHINE}, {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
                 {"HKCU", HKEY_CURRENT_USER},  {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
                 {"HKCR", HKEY_CLASSES_ROOT},  {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
                 {"HKU", HKEY_USERS},          {"HKEY_USERS", HKEY_USERS}};
    root = NULL;
    for (const auto& candidate : roots)
        if (_stricmp(candidate.name, rootName.c_str()) == 0)
            root = candidate.key;
    return root != NULL && !subkey.empty();
}

static bool OpenKey(const RegPath& path, REGSAM access, HKEY& key)
{
    return RegOpenKeyExA(path.root, path.subkey.c_str(), 0, access | path.view, &key) == ERROR_SUCCESS;
}

static bool ReadValue(HKEY key, const std::string& name, DWORD& type, std::string& data)
{
    DWORD size = 0;
    if (RegQueryValueExA(key, name.c_str(), NULL, &type, NULL, &size) != ERROR_SUCCESS)
        return false;
    data.assign(size, '\0');
    if (size && RegQueryValueExA(key, name.c_str(), NULL, &type, (BYTE*)&data[0], &size) != ERROR_SUCCESS)
        return false;
    data.resize(size);
    return true;
}

bool SnapshotTree(const RegPath& path, RegTree& tree)
{
    tree = RegTree();
    HKEY key;
    if (!OpenKey(path, KEY_READ, key))
        return true; // absent: remembered as absent
    tree.exists = true;
    char name[16384];
    for (DWORD i = 0;; ++i)
    {
        DWORD length = sizeof(name);
        if (RegEnumValueA(key, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        RegTree::Value value;
        value.name.assign(name, length);
        if (ReadValue(key, value.name, value.type, value.data))
            tree.values.push_back(value);
    }
    for (DWORD i = 0;; ++i)
    {
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        RegPath child = path;
        child.subkey += "\\" + std::string(name, length);
        RegTree sub;
        SnapshotTree(child, sub);
        tree.keys.emplace_back(std::string(name, length), sub);
    }
    RegCloseKey(key);
    return true;
}

static bool DeleteTree(const RegPath& path)
{
    size_t slash = path.subkey.rfind('\\');
    RegPath parent = path;
    parent.subkey = slash == std::string::npos ? std::string() : path.subkey.substr(0, slash);
    std::string leaf = slash == std::string::npos ? path.subkey : path.subkey.substr(slash + 1);
    HKEY key;
    LONG opened = parent.subkey.empty()
                      ? RegOpenKeyExA(path.root, NULL, 0, KEY_ALL_ACCESS | path.view, &key)
                      : RegOpenKeyExA(path.root, parent.subkey.c_str(), 0, KEY_ALL_ACCESS | path.view, &key);
    if (opened != ERROR_SUCCESS)
        return true; // no parent, no key
    LONG result = RegDeleteTreeA(key, leaf.c_str());
    RegCloseKey(key);
    return result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND;
}

bool RestoreTree(const RegPath& path, const RegTree& tree)
{
    bool ok = DeleteTree(path);
    if (!tree.exists)
        return ok;
    HKEY key;
    if (RegCreateKeyExA(path.root, path.subkey.c_str(), 0, NULL, 0, KEY_ALL_ACCESS | path.view, NULL,
                        &key, NULL) != ERROR_SUCCESS)
        return false;
    for (const RegTree::Value& value : tree.values)
        ok = RegSetValueExA(key, value.name.c_str(), 0, value.type, (const BYTE*)value.data.data(),
                            (DWORD)value.data.size()) == ERROR_SUCCESS && ok;
    RegCloseKey(key);
    for (const auto& sub : tree.keys)
    {
        RegPath child = path;
        child.subkey += "\\" + sub.first;
        ok = RestoreTree(child, sub.second) && ok;
    }
    return ok;
}

bool KeyExists(const RegPath& path)
{
    HKEY key;
    if (!OpenKey(path, KEY_READ, key))
        return false;
    RegCloseKey(key);
    return true;
}

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
    RegPath path;
    HKEY key;
    if (!path.Parse(keyPath))
        return BAD_PATH;
    if (!OpenKey(path, KEY_READ, key))
        return NO_KEY;
    bool present = ReadValue(key, name, type, data);
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
