// Registry keys that a test changes, each recorded as a whole tree when first
// named and put back exactly (or removed, when it did not exist) at the end,
// also when an assertion ended the test. Paths are "HKLM\\Software\\..."
// (HKLM, HKCU, HKCR or HKU).
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace fwtest
{
// Splits "HKLM\\Software\\..." into its root and subkey; false for a bad path.
bool ParseRegPath(const std::string& path, HKEY& root, std::string& subkey);
// A value's type and bytes; false when it is not there.
bool ReadRegValue(HKEY key, const std::string& name, DWORD& type, std::string& data);

// A string value, REG_ABSENT when it is missing; setting REG_ABSENT deletes it.
extern const char* const REG_ABSENT;
std::string RegString(HKEY root, const std::string& key, const std::string& name);
void SetRegString(HKEY root, const std::string& key, const std::string& name, const std::string& value);

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
