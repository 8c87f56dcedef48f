// The registry wrappers' refusals, which no whole run provokes: a write never
// creates its key, a delete never takes a key with subkeys or the root, empty
// names are refused; and a string stored without its terminator reads whole.
// Reading and writing the product's values is checked by every whole run.
#include <gtest/gtest.h>

#include <shlwapi.h>

#include <string>

#include "Registry.h"

namespace
{
const HKEY HKCU = HKEY_CURRENT_USER;

bool KeyExists(const std::string& path)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(HKCU, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}
} // namespace

TEST(Registry, RefusalsAndOddValues)
{
    const std::string root = "Software\\FernwickTest\\Registry_" + std::to_string(GetCurrentProcessId());
    const std::string key = root + "\\Product", child = key + "\\Child";
    SHDeleteKeyA(HKCU, root.c_str());

    EXPECT_FALSE(WriteRegistryString(HKCU, key.c_str(), "InstallPath", "C:\\x\\"));
    EXPECT_FALSE(KeyExists(key)) << "a write must not create the key";
    ASSERT_TRUE(EnsureRegistryKey(HKCU, child.c_str()));
    EXPECT_TRUE(WriteRegistryString(HKCU, key.c_str(), "InstallPath", "C:\\x\\"));
    // A write the system refuses on an existing key answers false too.
    EXPECT_FALSE(WriteRegistryString(HKCU, key.c_str(), std::string(20000, 'n').c_str(), "v"));
    EXPECT_FALSE(WriteRegistryString(HKCU, key.c_str(), NULL, "v"));
    EXPECT_FALSE(WriteRegistryString(HKCU, key.c_str(), "n", ""));
    EXPECT_FALSE(WriteRegistryString(HKCU, "", "n", "v"));
    EXPECT_FALSE(EnsureRegistryKey(HKCU, ""));
    EXPECT_FALSE(DeleteRegistryValue(HKCU, key.c_str(), ""));
    EXPECT_FALSE(DeleteRegistryValue(HKCU, "", "n"));
    EXPECT_FALSE(DeleteRegistryKey(HKCU, "")) << "never the root itself";
    EXPECT_FALSE(DeleteRegistryKey(HKCU, key.c_str())) << "has a subkey";
    EXPECT_TRUE(KeyExists(child));

    // Some programs store a string without its terminator.
    ASSERT_EQ(ERROR_SUCCESS, SHSetValueA(HKCU, key.c_str(), "Bare", REG_SZ, "abc", 3));
    C_String text("keep");
    EXPECT_TRUE(ReadRegistryString(HKCU, key.c_str(), "Bare", text));
    EXPECT_STREQ("abc", text.GetNarrow());

    EXPECT_TRUE(DeleteRegistryKey(HKCU, child.c_str()));
    EXPECT_TRUE(DeleteRegistryKey(HKCU, key.c_str()));
    SHDeleteKeyA(HKCU, root.c_str());
}
