#include "RegistryGuard.h"

namespace fwtest
{
namespace
{
// A whole key tree held in memory, to put it back later.
struct Tree
{
    struct Value
    {
        std::string name;
        DWORD type;
        std::string data;
    };
    bool exists = false;
    std::vector<Value> values;
    std::vector<std::pair<std::string, Tree>> keys;
};

bool Exists(HKEY root, const std::string& path)
{
    HKEY key;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS &&
           RegCloseKey(key) == ERROR_SUCCESS;
}

Tree Snapshot(HKEY root, const std::string& path)
{
    Tree tree;
    HKEY key;
    if (RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return tree; // absent: remembered as absent
    tree.exists = true;
    char name[16384];
    for (DWORD i = 0;; ++i)
    {
        DWORD length = sizeof(name);
        if (RegEnumValueA(key, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        Tree::Value value;
        value.name.assign(name, length);
        if (ReadRegValue(key, value.name, value.type, value.data))
            tree.values.push_back(value);
    }
    for (DWORD i = 0;; ++i)
    {
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        tree.keys.emplace_back(std::string(name, length), Snapshot(root, path + "\\" + std::string(name, length)));
    }
    RegCloseKey(key);
    return tree;
}

void Put(HKEY root, const std::string& path, const Tree& tree)
{
    RegDeleteTreeA(root, path.c_str());
    HKEY key;
    if (!tree.exists ||
        RegCreateKeyExA(root, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    for (const Tree::Value& value : tree.values)
        RegSetValueExA(key, value.name.c_str(), 0, value.type, (const BYTE*)value.data.data(),
                       (DWORD)value.data.size());
    RegCloseKey(key);
    for (const auto& sub : tree.keys)
        Put(root, path + "\\" + sub.first, sub.second);
}

std::string Lower(std::string text)
{
    for (char& c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}
} // namespace

struct RegistryGuard::Key
{
    std::string name; // the path in lower case, to tell the keys inside it
    HKEY root;
    std::string subkey;
    Tree tree;        // of a single value: that value, when it was there
    bool singleValue = false;
    std::string value;
};

bool ParseRegPath(const std::string& path, HKEY& root, std::string& subkey)
{
    size_t slash = path.find('\\');
    std::string rootName = path.substr(0, slash);
    subkey = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    static const struct
    {
        const char* name;
        HKEY key;
    } roots[] = {{"HKLM", HKEY_LOCAL_MACHINE}, {"HKCU", HKEY_CURRENT_USER}, {"HKCR", HKEY_CLASSES_ROOT},
                 {"HKU", HKEY_USERS}};
    root = NULL;
    for (const auto& candidate : roots)
        if (_stricmp(candidate.name, rootName.c_str()) == 0)
            root = candidate.key;
    return root != NULL && !subkey.empty();
}

bool ReadRegValue(HKEY key, const std::string& name, DWORD& type, std::string& data)
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

const char* const REG_ABSENT = "(absent)";

std::string RegString(HKEY root, const std::string& key, const std::string& name)
{
    char data[4096] = "";
    DWORD size = sizeof(data);
    if (RegGetValueA(root, key.c_str(), name.empty() ? NULL : name.c_str(),
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, NULL, data, &size) != ERROR_SUCCESS)
        return REG_ABSENT;
    return data;
}

void SetRegString(HKEY root, const std::string& key, const std::string& name, const std::string& value)
{
    if (value == REG_ABSENT)
        RegDeleteKeyValueA(root, key.c_str(), name.c_str());
    else
        RegSetKeyValueA(root, key.c_str(), name.c_str(), REG_SZ, value.c_str(), (DWORD)value.size() + 1);
}

RegistryGuard::RegistryGuard() = default;

RegistryGuard::~RegistryGuard()
{
    Restore();
}

bool RegistryGuard::Guarded(const std::string& name) const
{
    for (const auto& key : m_keys)
        if (!key->singleValue &&
            (name == key->name || name.compare(0, key->name.size() + 1, key->name + "\\") == 0))
            return true;
    return false;
}

::testing::AssertionResult RegistryGuard::Guard(const std::string& key)
{
    std::unique_ptr<Key> guard(new Key);
    guard->name = Lower(key);
    if (!ParseRegPath(key, guard->root, guard->subkey))
        return ::testing::AssertionFailure() << "bad registry path " << key;
    if (Guarded(guard->name))
        return ::testing::AssertionSuccess();
    std::string& subkey = guard->subkey;
    for (size_t at = subkey.find('\\'); at != std::string::npos; at = subkey.find('\\', at + 1))
        if (!Exists(guard->root, subkey.substr(0, at)))
        {
            guard->name.resize(guard->name.size() - (subkey.size() - at));
            subkey.resize(at);
            break;
        }
    guard->tree = Snapshot(guard->root, subkey);
    m_keys.push_back(std::move(guard));
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult RegistryGuard::GuardValue(const std::string& key, const std::string& name)
{
    std::unique_ptr<Key> guard(new Key);
    HKEY handle;
    if (!ParseRegPath(key, guard->root, guard->subkey) || Guarded(Lower(key)) ||
        RegOpenKeyExA(guard->root, guard->subkey.c_str(), 0, KEY_READ, &handle) != ERROR_SUCCESS)
        return Guard(key);
    guard->singleValue = true;
    guard->value = name;
    Tree::Value value{name, REG_NONE, ""};
    if (ReadRegValue(handle, name, value.type, value.data))
        guard->tree.values.push_back(value);
    RegCloseKey(handle);
    m_keys.push_back(std::move(guard));
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult RegistryGuard::SetValue(const std::string& key, const std::string& name, DWORD type,
                                                   const void* data, DWORD size)
{
    ::testing::AssertionResult guarded = GuardValue(key, name);
    if (!guarded)
        return guarded;
    HKEY root;
    std::string subkey;
    ParseRegPath(key, root, subkey);
    LONG result = RegSetKeyValueA(root, subkey.c_str(), name.c_str(), type, data, size);
    if (result == ERROR_SUCCESS)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "cannot set \"" << name << "\" in " << key << " (" << result << ")";
}

void RegistryGuard::Restore()
{
    for (auto it = m_keys.rbegin(); it != m_keys.rend(); ++it)
    {
        const Key& key = **it;
        if (!key.singleValue)
            Put(key.root, key.subkey, key.tree);
        else if (key.tree.values.empty())
            RegDeleteKeyValueA(key.root, key.subkey.c_str(), key.value.c_str());
        else
            RegSetKeyValueA(key.root, key.subkey.c_str(), key.value.c_str(), key.tree.values[0].type,
                            key.tree.values[0].data.data(), (DWORD)key.tree.values[0].data.size());
    }
    m_keys.clear();
}
} // namespace fwtest
