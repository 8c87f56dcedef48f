#include <gtest/gtest.h>

#include <shlwapi.h>

#include <string>
#include <vector>

#include "Registry.h"
#include "TestSupport.h"

namespace
{
const HKEY HKCU = HKEY_CURRENT_USER;

// A scratch key under HKCU, removed with everything below it.
struct ScratchKey
{
    const std::string path = "Software\\FernwickTest\\Registry_" + std::to_string(GetCurrentProcessId());
    ScratchKey() { SHDeleteKeyA(HKCU, path.c_str()); }
    ~ScratchKey() { SHDeleteKeyA(HKCU, path.c_str()); }
    const char* Path() const { return path.c_str(); }
    std::string Sub(const char* name) const { return path + "\\" + name; }
};

bool KeyExists(const std::string& path)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(HKCU, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void SetRaw(const std::string& path, const char* name, DWORD type, const void* data, DWORD size)
{
    ASSERT_EQ(ERROR_SUCCESS, SHSetValueA(HKCU, path.c_str(), name, type, data, size));
}
} // namespace

TEST(Registry, WriteNeedsAnExistingKeyEnsureCreatesIt)
{
    ScratchKey scratch;
    std::string key = scratch.Sub("Product");
    EXPECT_FALSE(WriteRegistryString(HKCU, key.c_str(), "InstallPath", "C:\\x\\"));
    EXPECT_FALSE(KeyExists(key)) << "a write must not create the key";

    EXPECT_TRUE(EnsureRegistryKey(HKCU, key.c_str()));
    EXPECT_TRUE(KeyExists(key));
    EXPECT_TRUE(EnsureRegistryKey(HKCU, key.c_str())) << "already there";

    EXPECT_TRUE(WriteRegistryString(HKCU, key.c_str(), "InstallPath", "C:\\x\\"));
    C_String value;
    ASSERT_TRUE(ReadRegistryString(HKCU, key.c_str(), "InstallPath", value));
    EXPECT_STREQ("C:\\x\\", value.GetNarrow());
    EXPECT_EQ(5u, value.Length());
    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, SHGetValueA(HKCU, key.c_str(), "InstallPath", &type, NULL, &size));
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ(6u, size) << "stored with its terminator";

    // A write the system refuses on an existing key (HKCU denies nothing
    // here, so a value name that is too long) answers false too.
    EXPECT_FALSE(WriteRegistryString(HKCU, key.c_str(), std::string(20000, 'n').c_str(), "v"));
}

TEST(Registry, ValuesRoundTrip)
{
    ScratchKey scratch;
    std::string key = scratch.Sub("Values");
    std::string noKey = scratch.Sub("Nokey");
    ASSERT_TRUE(EnsureRegistryKey(HKCU, key.c_str()));
    DWORD number = 0x12345678;
    SetRaw(key, "Number", REG_DWORD, &number, sizeof(number));
    SetRaw(key, "Bare", REG_SZ, "abc", 3);   // without its terminator, as some programs write
    SetRaw(key, "Empty", REG_SZ, "", 1);

    DWORD read = 0;
    EXPECT_TRUE(ReadRegistryDword(HKCU, key.c_str(), "Number", read));
    EXPECT_EQ(number, read);
    read = 7;
    EXPECT_FALSE(ReadRegistryDword(HKCU, key.c_str(), "Missing", read));
    EXPECT_EQ(7u, read) << "unchanged on failure";
    EXPECT_FALSE(ReadRegistryDword(HKCU, noKey.c_str(), "Number", read));

    C_String text("keep");
    EXPECT_TRUE(ReadRegistryString(HKCU, key.c_str(), "Bare", text));
    EXPECT_STREQ("abc", text.GetNarrow());
    EXPECT_TRUE(ReadRegistryString(HKCU, key.c_str(), "Empty", text));
    EXPECT_STREQ("", text.GetNarrow());
    text = "keep";
    EXPECT_FALSE(ReadRegistryString(HKCU, key.c_str(), "Missing", text));
    EXPECT_FALSE(ReadRegistryString(HKCU, noKey.c_str(), "x", text));
    EXPECT_STREQ("keep", text.GetNarrow());
}

TEST(Registry, DeletesValuesAndLeafKeys)
{
    ScratchKey scratch;
    std::string parent = scratch.Sub("Parent");
    std::string child = scratch.Sub("Parent\\Child");
    ASSERT_TRUE(EnsureRegistryKey(HKCU, child.c_str()));
    ASSERT_TRUE(WriteRegistryString(HKCU, child.c_str(), "V", "1"));

    EXPECT_TRUE(DeleteRegistryValue(HKCU, child.c_str(), "V"));
    C_String text;
    EXPECT_FALSE(ReadRegistryString(HKCU, child.c_str(), "V", text));
    EXPECT_FALSE(DeleteRegistryValue(HKCU, child.c_str(), "V")) << "already gone";

    EXPECT_FALSE(DeleteRegistryKey(HKCU, parent.c_str())) << "has a subkey";
    EXPECT_TRUE(KeyExists(child));
    EXPECT_TRUE(DeleteRegistryKey(HKCU, child.c_str()));
    EXPECT_FALSE(KeyExists(child));
    EXPECT_TRUE(DeleteRegistryKey(HKCU, parent.c_str()));
    EXPECT_FALSE(KeyExists(parent));
    EXPECT_FALSE(DeleteRegistryKey(HKCU, parent.c_str()));
}

TEST(Registry, EmptyArgumentsAreRefused)
{
    ScratchKey scratch;
    const char* key = scratch.Path();
    ASSERT_TRUE(EnsureRegistryKey(HKCU, key));
    EXPECT_FALSE(WriteRegistryString(HKCU, "", "n", "v"));
    EXPECT_FALSE(WriteRegistryString(HKCU, key, "", "v"));
    EXPECT_FALSE(WriteRegistryString(HKCU, key, "n", ""));
    EXPECT_FALSE(WriteRegistryString(HKCU, key, NULL, "v"));
    EXPECT_FALSE(EnsureRegistryKey(HKCU, ""));
    EXPECT_FALSE(DeleteRegistryKey(HKCU, "")) << "never the root itself";
    EXPECT_FALSE(DeleteRegistryValue(HKCU, key, ""));
    EXPECT_FALSE(DeleteRegistryValue(HKCU, "", "n"));
    EXPECT_TRUE(KeyExists(key));
}

TEST(Registry, FindSubkeyTakesTheHighestIndexMatch)
{
    ScratchKey scratch;
    for (const char* name : {"{A}_ZAPH 5.0", "Other", "{B}_ZAPH 6.1", "{C}_zaph 7.0", "{D}_ZAPH 6.2"})
        ASSERT_TRUE(EnsureRegistryKey(HKCU, scratch.Sub(name).c_str()));

    // The system decides the order; the answer is the last match in its order.
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKCU, scratch.Path(), 0, KEY_READ, &key));
    std::string expected;
    char name[260];
    DWORD count = 0, length = sizeof(name);
    while (RegEnumKeyExA(key, count, name, &length, NULL, NULL, NULL, NULL) == ERROR_SUCCESS)
    {
        if (strstr(name, "ZAPH"))
            expected = name;
        count++;
        length = sizeof(name);
    }
    RegCloseKey(key);
    ASSERT_EQ(5u, count);

    C_String found;
    ASSERT_TRUE(FindRegistrySubkey(HKCU, scratch.Path(), "ZAPH", found));
    EXPECT_EQ(expected, std::string(found.GetNarrow()));
    EXPECT_NE(std::string::npos, expected.find("ZAPH"));

    ASSERT_TRUE(FindRegistrySubkey(HKCU, scratch.Path(), "zaph", found));
    EXPECT_STREQ("{C}_zaph 7.0", found.GetNarrow()) << "case-sensitive";
    EXPECT_FALSE(FindRegistrySubkey(HKCU, scratch.Path(), "QRT", found));
    EXPECT_FALSE(FindRegistrySubkey(HKCU, scratch.Sub("Nokey").c_str(), "Z", found));
}
