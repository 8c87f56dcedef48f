// What the machine holds of an earlier installation of the product.
#pragma once

#include "C_String.h"

// Where Windows Installer lists the installed products, one subkey per code.
extern const char* const UNINSTALL_REGISTRY_KEY;   // "SOFTWARE\...\Uninstall"
// The last four groups and the closing brace of every release's product code.
extern const char* const PRODUCT_CODE_TAIL;        // "-5A1E-4B7D-8C20-91F3C6A0D4E8}"

// The installed package's registration: its product code and displayed
// version (empty when it has none). The tag names the caller in the log.
bool FindProductCode(C_String& version, C_String& productCode, const char* tag);
