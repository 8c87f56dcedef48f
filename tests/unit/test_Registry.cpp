#include <gtest/gtest.h>

#include <shlwapi.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "Registry.h"
#include "TestSupport.h"

namespace
{
// A scratch key under HKCU, removed with everything below it.
class ScratchKey
{
public:
    ScratchKey()
    {
        char name[64];
        sprintf(name, "Software\\FernwickTest\\Registry_%lu", GetCurrentProcessId());
        m_path = name;
        SHDeleteKeyA(HKEY_CURRENT_USER, m_path.c_str());
    }
    ~ScratchKey() { SHDeleteKeyA(HKEY_CURRENT_USER, m_path.c_str()); }
    const char* Path() const { return m_path.c_str(); }
    std::string Sub(const char* name) const { return m_path + "\\" + name; }

private:
    std::string m_path;
};

bool KeyExists(const std::string& path)
{
    HKEY key = NULL;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

void SetRaw(const std::string& path, const char* name, DWORD type, const void* data, DWORD size)
{
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &key));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, (const BYTE*)data, size));
    RegCloseKey(key);
}
} // namespace

TEST(Registry, WriteNeedsAnExistingKeyEnsureCreatesIt)
{
    ScratchKey scratch;
    std::string key = scratch.Sub("Product");
    EXPECT_FALSE(WriteRegistryString(HKEY_CURRENT_USER, key.c_str(), "InstallPath", "C:\\x\\"));
    EXPECT_FALSE(KeyExists(key)) << "a write must not create the key";

    EXPECT_TRUE(EnsureRegistryKey(HKEY_CURRENT_USER, key.c_str()));
    EXPECT_TRUE(KeyExists(key));
    EXPECT_TRUE(EnsureRegistryKey(HKEY_CURRENT_USER, key.c_str())) << "already there";

    EXPECT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, key.c_str(), "InstallPath", "C:\\x\\"));
    C_String value;
    ASSERT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, key.c_str(), "InstallPath", value));
    EXPECT_STREQ("C:\\x\\", value.GetNarrow());
    EXPECT_EQ(5u, value.Length());

    DWORD type = 0;
    DWORD size = 0;
    ASSERT_EQ(ERROR_SUCCESS, SHGetValueA(HKEY_CURRENT_USER, key.c_str(), "InstallPath", &type,
                                         NULL, &size));
    EXPECT_EQ((DWORD)REG_SZ, type);
    EXPECT_EQ(6u, size) << "stored with its terminator";
}

TEST(Registry, WriteReportsAFailedWrite)
{
    // A key opened for reading and writing whose write the system refuses:
    // HKCU itself denies nothing here, so use a value name that is too long.
    ScratchKey scratch;
    ASSERT_TRUE(EnsureRegistryKey(HKEY_CURRENT_USER, scratch.Path()));
    std::string longName(20000, 'n');
    EXPECT_FALSE(WriteRegistryString(HKEY_CURRENT_USER, scratch.Path(), longName.c_str(), "v"));
}

TEST(Registry, ValuesRoundTrip)
{
    ScratchKey scratch;
    std::string key = scratch.Sub("Values");
    ASSERT_TRUE(EnsureRegistryKey(HKEY_CURRENT_USER, key.c_str()));
    DWORD number = 0x12345678;
    SetRaw(key, "Number", REG_DWORD, &number, sizeof(number));
    // Written without its terminator by some other program.
    SetRaw(key, "Bare", REG_SZ, "abc", 3);
    SetRaw(key, "Empty", REG_SZ, "", 1);

    DWORD read = 0;
    EXPECT_TRUE(ReadRegistryDword(HKEY_CURRENT_USER, key.c_str(), "Number", read));
    EXPECT_EQ(number, read);
    read = 7;
    EXPECT_FALSE(ReadRegistryDword(HKEY_CURRENT_USER, key.c_str(), "Missing", read));
    EXPECT_EQ(7u, read) << "unchanged on failure";
    EXPECT_FALSE(ReadRegistryDword(HKEY_CURRENT_USER, scratch.Sub("Nokey").c_str(), "Number", read));

    C_String text("keep");
    EXPECT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, key.c_str(), "Bare", text));
    EXPECT_STREQ("abc", text.GetNarrow());
    EXPECT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, key.c_str(), "Empty", text));
    EXPECT_STREQ("", text.GetNarrow());
    text = "keep";
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, key.c_str(), "Missing", text));
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, scratch.Sub("Nokey").c_str(), "x", text));
    EXPECT_STREQ("keep", text.GetNarrow());

    const std::string stateTexts[] = {"plain", "with space and \xE9", std::string(300, 'L')};
    for (const std::string& s : stateTexts)
    {
        ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, key.c_str(), "Text", s.c_str()));
        ASSERT_TRUE(ReadRegistryString(HKEY_CURRENT_USER, key.c_str(), "Text", text));
        EXPECT_EQ(s, std::string(text.GetNarrow()));
    }
}

TEST(Registry, DeletesValuesAndLeafKeys)
{
    ScratchKey scratch;
    std::string parent = scratch.Sub("Parent");
    std::string child = scratch.Sub("Parent\\Child");
    ASSERT_TRUE(EnsureRegistryKey(HKEY_CURRENT_USER, child.c_str()));
    ASSERT_TRUE(WriteRegistryString(HKEY_CURRENT_USER, child.c_str(), "V", "1"));

    EXPECT_TRUE(DeleteRegistryValue(HKEY_CURRENT_USER, child.c_str(), "V"));
    C_String text;
    EXPECT_FALSE(ReadRegistryString(HKEY_CURRENT_USER, child.c_str(), "V", text));
    EXPECT_FALSE(DeleteRegistryValue(HKEY_CURRENT_USER, child.c_str(), "V")) << "already gone";

    EXPECT_FALSE(DeleteRegistryKey(HKEY_CURRENT_USER, parent.c_str())) << "has a subkey";
    EXPECT_TRUE(KeyExists(child));
    EXPECT_TRUE(DeleteRegistryKey(HKEY_CURRENT_USER, child.c_str()));
    EXPECT_FALSE(KeyExists(child));
    EXPECT_TRUE(DeleteRegistryKey(HKEY_CURRENT_USER, parent.c_str()));
    EXPECT_FALSE(KeyExists(parent));
    EXPECT_FALSE(DeleteRegistryKey(HKEY_CURRENT_USER, parent.c_str()));
}

TEST(Registry, EmptyArgumentsAreRefused)
{
    ScratchKey scratch;
    const char* key = scratch.Path();
    ASSERT_TRUE(EnsureRegistryKey(HKEY_CURRENT_USER, key));
    EXPECT_FALSE(WriteRegistryString(HKEY_CURRENT_USER, "", "n", "v"));
    EXPECT_FALSE(WriteRegistryString(HKEY_CURRENT_USER, key, "", "v"));
    EXPECT_FALSE(WriteRegistryString(HKEY_CURRENT_USER, key, "n", ""));
    EXPECT_FALSE(WriteRegistryString(HKEY_CURRENT_USER, key, NULL, "v"));
    EXPECT_FALSE(EnsureRegistryKey(HKEY_CURRENT_USER, ""));
    EXPECT_FALSE(DeleteRegistryKey(HKEY_CURRENT_USER, "")) << "never the root itself";
    EXPECT_FALSE(DeleteRegistryValue(HKEY_CURRENT_USER, key, ""));
    EXPECT_FALSE(DeleteRegistryValue(HKEY_CURRENT_USER, "", "n"));
    EXPECT_TRUE(KeyExists(key));
}

TEST(Registry, FindSubkeyTakesTheHighestIndexMatch)
{
    ScratchKey scratch;
    const char* names[] = {"{A}_ZAPH 5.0", "Other", "{B}_ZAPH 6.1", "{C}_zaph 7.0", "{D}_ZAPH 6.2"};
    for (const char* name : names)
        ASSERT_TRUE(EnsureRegistryKey(HKEY_CURRENT_USER, scratch.Sub(name).c_str()));

    // The system decides the order; the answer is the last match in its order.
    HKEY key = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_USER, scratch.Path(), 0, KEY_READ, &key));
    std::vector<std::string> order;
    char name[260];
    for (DWORD i = 0;; i++)
    {
        DWORD length = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        order.push_back(name);
    }
    RegCloseKey(key);
    std::string expected;
    for (const std::string& n : order)
        if (n.find("ZAPH") != std::string::npos)
            expected = n;
    ASSERT_EQ(5u, order.size());

    C_String found;
    ASSERT_TRUE(FindRegistrySubkey(HKEY_CURRENT_USER, scratch.Path(), "ZAPH", found));
    EXPECT_EQ(expected, std::string(found.GetNarrow()));
    EXPECT_NE(std::string::npos, expected.find("ZAPH"));

    ASSERT_TRUE(FindRegistrySubkey(HKEY_CURRENT_USER, scratch.Path(), "zaph", found));
    EXPECT_STREQ("{C}_zaph 7.0", found.GetNarrow()) << "case-sensitive";
    EXPECT_FALSE(FindRegistrySubkey(HKEY_CURRENT_USER, scratch.Path(), "QRT", found));
    EXPECT_FALSE(FindRegistrySubkey(HKEY_CURRENT_USER, scratch.Sub("Nokey").c_str(), "Z", found));
}
