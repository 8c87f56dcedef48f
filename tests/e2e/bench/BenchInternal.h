// Pieces of the bench shared between its source files; scenarios use Scenario.h.
#pragma once

#include "Scenario.h"
#include "TestSupport.h"


namespace fwe2e
{
std::string DescribeWindows(DWORD pid);
} // namespace fwe2e
