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

RegPath Child(const RegPath& path, const std::string& name)
{
    RegPath child = path;
    child.subkey += "\\" + name;
    return child;
}

bool Exists(const RegPath& path)
{
    HKEY key;
    if (!path.Open(KEY_READ, key))
        return false;
    RegCloseKey(key);
    return true;
}

Tree Snapshot(const RegPath& path)
{
    Tree tree;
    HKEY key;
    if (!path.Open(KEY_READ, key))
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
        tree.keys.emplace_back(std::string(name, length), Snapshot(Child(path, std::string(name, length))));
    }
    RegCloseKey(key);
    return tree;
}

void Put(const RegPath& path, const Tree& tree)
{
    size_t slash = path.subkey.rfind('\\');
    RegPath parent = path;
    parent.subkey = slash == std::string::npos ? std::string() : path.subkey.substr(0, slash);
    HKEY key;
    if (parent.Open(KEY_ALL_ACCESS, key))
    {
        RegDeleteTreeA(key, path.subkey.substr(slash == std::string::npos ? 0 : slash + 1).c_str());
        RegCloseKey(key);
    }
    if (!tree.exists || RegCreateKeyExA(path.root, path.subkey.c_str(), 0, NULL, 0, KEY_ALL_ACCESS | path.view,
                                        NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    for (const Tree::Value& value : tree.values)
        RegSetValueExA(key, value.name.c_str(), 0, value.type, (const BYTE*)value.data.data(),
                       (DWORD)value.data.size());
    RegCloseKey(key);
    for (const auto& sub : tree.keys)
        Put(Child(path, sub.first), sub.second);
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
    RegPath path;
    Tree tree;        // of a single value: that value, when it was there
    bool singleValue = false;
    std::string value;
};

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

bool RegPath::Open(REGSAM access, HKEY& key) const
{
    return RegOpenKeyExA(root, subkey.c_str(), 0, access | view, &key) == ERROR_SUCCESS;
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
    if (!guard->path.Parse(key))
        return ::testing::AssertionFailure() << "bad registry path " << key;
    if (Guarded(guard->name))
        return ::testing::AssertionSuccess();
    std::string& subkey = guard->path.subkey;
    for (size_t at = subkey.find('\\'); at != std::string::npos; at = subkey.find('\\', at + 1))
        if (!Exists({guard->path.root, subkey.substr(0, at), guard->path.view}))
        {
            guard->name.resize(guard->name.size() - (subkey.size() - at));
            subkey.resize(at);
            break;
        }
    guard->tree = Snapshot(guard->path);
    m_keys.push_back(std::move(guard));
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult RegistryGuard::GuardValue(const std::string& key, const std::string& name)
{
    std::unique_ptr<Key> guard(new Key);
    HKEY handle;
    if (!guard->path.Parse(key) || Guarded(Lower(key)) || !guard->path.Open(KEY_READ, handle))
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
    RegPath path;
    path.Parse(key);
    HKEY handle;
    LONG result = RegCreateKeyExA(path.root, path.subkey.c_str(), 0, NULL, 0, KEY_ALL_ACCESS | path.view, NULL,
                                  &handle, NULL);
    if (result == ERROR_SUCCESS)
    {
        result = RegSetValueExA(handle, name.c_str(), 0, type, (const BYTE*)data, size);
        RegCloseKey(handle);
    }
    if (result == ERROR_SUCCESS)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "cannot set \"" << name << "\" in " << key << " (" << result << ")";
}

void RegistryGuard::Restore()
{
    for (auto it = m_keys.rbegin(); it != m_keys.rend(); ++it)
    {
        const Key& key = **it;
        HKEY handle;
        if (!key.singleValue)
            Put(key.path, key.tree);
        else if (RegCreateKeyExA(key.path.root, key.path.subkey.c_str(), 0, NULL, 0, KEY_ALL_ACCESS | key.path.view,
                                 NULL, &handle, NULL) == ERROR_SUCCESS)
        {
            const Tree::Value* was = key.tree.values.empty() ? NULL : &key.tree.values[0];
            if (was)
                RegSetValueExA(handle, was->name.c_str(), 0, was->type, (const BYTE*)was->data.data(),
                               (DWORD)was->data.size());
            else
                RegDeleteValueA(handle, key.value.c_str());
            RegCloseKey(handle);
        }
    }
    m_keys.clear();
}
} // namespace fwtest
