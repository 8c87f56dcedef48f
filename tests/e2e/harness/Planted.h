// Libraries planted where an elevated program must not pick them up: a
// recording library under every name that a whole run loads, as listed in
// tests/fixtures/planted/libraries.txt, beside the program and in a separate
// current folder (or only beside it, when that is also the current folder),
// with Wine told to prefer such native copies as Windows would.
#pragma once

#include <string>

#include "Scenario.h"

namespace fwe2e
{
class Planted
{
public:
    // Plants for the program exeName of s; separateCurrent: the run's current
    // folder becomes a folder of its own holding the plants too.
    Planted(Scenario& s, const std::string& exeName, bool separateCurrent = true);
    ~Planted();
    // The paths of the planted copies that were loaded, one a line.
    std::string Loaded() const;
    const std::string& Current() const { return m_current; }

private:
    std::string m_record, m_current;
};
} // namespace fwe2e
