// Registry keys that a test changes, each recorded as a whole tree when first
// named and put back exactly (or removed, when it did not exist) at the end,
// also when an assertion ended the test. Paths are "HKLM\\Software\\..."
// (HKLM, HKCU, HKCR, HKU or the long names), the 64-bit view unless the path
// starts with "32:".
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace fwtest
{
struct RegPath
{
    HKEY root = NULL;
    std::string subkey;
    REGSAM view = KEY_WOW64_64KEY;
    bool Parse(const std::string& path);
    bool Open(REGSAM access, HKEY& key) const;
};

// A value's type and bytes; false when it is not there.
bool ReadRegValue(HKEY key, const std::string& name, DWORD& type, std::string& data);

class RegistryGuard
{
public:
    RegistryGuard();
    ~RegistryGuard();
    RegistryGuard(const RegistryGuard&) = delete;
    RegistryGuard& operator=(const RegistryGuard&) = delete;

    // A key that does not exist yet is guarded from its first missing parent
    // on, so that the parents a write makes go again too.
    ::testing::AssertionResult Guard(const std::string& key);
    // Only the value of an existing key (the key's own tree may be large).
    ::testing::AssertionResult GuardValue(const std::string& key, const std::string& name);
    // Guards the value, then writes it (making the key).
    ::testing::AssertionResult SetValue(const std::string& key, const std::string& name, DWORD type,
                                        const void* data, DWORD size);
    // Puts every key back, the last guarded first.
    void Restore();

private:
    struct Key;
    bool Guarded(const std::string& lowerKey) const;
    std::vector<std::unique_ptr<Key>> m_keys;
};
} // namespace fwtest
