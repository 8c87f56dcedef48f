// What the machine holds of an earlier installation of the product.
#include "PreviousInstall.h"

#include <string>

#include "Log.h"
#include "Registry.h"

const char* const UNINSTALL_REGISTRY_KEY = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
const char* const PRODUCT_CODE_TAIL = "-5A1E-4B7D-8C20-91F3C6A0D4E8}";

static const char* const DISPLAY_VERSION_VALUE = "DisplayVersion";

bool FindProductCode(C_String& version, C_String& productCode, const char* tag)
{
    if (tag == NULL)
        tag = "";
    version.Clear();
    productCode.Clear();
    LogMessage(2, LOG_INFO, "=== %hs: Find product code matching '%hs'\n", tag, PRODUCT_CODE_TAIL);
    // Releases differ in the first group only; the most recent registration
    // is the one with the highest index.
    if (!FindRegistrySubkey(HKEY_LOCAL_MACHINE, UNINSTALL_REGISTRY_KEY, PRODUCT_CODE_TAIL, productCode))
    {
        LogMessage(2, LOG_INFO, "=== %hs: No matching product code found\n", tag);
        return false;
    }
    std::string key = std::string(UNINSTALL_REGISTRY_KEY) + "\\" + productCode.GetNarrow();
    if (!ReadRegistryString(HKEY_LOCAL_MACHINE, key.c_str(), DISPLAY_VERSION_VALUE, version))
        version.Clear();
    LogMessage(2, LOG_INFO, "=== %hs: Product code found '%hs' with version V%hs\n", tag, productCode.GetNarrow(),
               version.GetNarrow());
    return true;
}
