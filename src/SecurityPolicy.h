// Full trust for the .NET edition's program under the Framework's code access
// security, given with the Framework's own tool, and the repair mode that
// gives it again to an existing installation.
#pragma once

// The product's code group and its description.
extern const char* const POLICY_GROUP_NAME;         // "ZAPH"
extern const char* const POLICY_GROUP_DESCRIPTION;  // "ZAPH.NET by Ombrant"
extern const char* const REPAIR_PROGRAM_FORMAT;     // "%s\\Zaph.exe"

// Removes the group from the machine policy and adds it again for the
// program file; true when the add command returned 0.
bool RegisterSecurityPolicy(const char* programFile, const char* groupName,
                            const char* description);
// The repair mode: registers the policy of the installation found and tells
// the user the outcome. Returns the run's code: 0 when repaired, 1605 when no
// installation was found, 1603 when the registration failed.
long RepairSecurityPolicy();
