// The spine of the main sequence: the order of the phases, when a phase is
// skipped or ends the run, the stop at a phase that is not part of the build,
// and how Multi-MS tells the installed edition. (The version labels are every
// upgrade row's; a version long enough to reach the end of the label's buffer
// is no real input, and the settings-file fault runs of e2e_faults feed huge
// values.)
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "Fernwick.h"
#include "Log.h"
#include "PreviousInstallation.h"
#include "RegistryGuard.h"
#include "RunState.h"
#include "TestSupport.h"

namespace
{
// Phases that record their number; phase 3 leaves g_rcAt3, phase 4 ends the
// phases when g_endAt4.
std::vector<int> g_ran;
long g_rcAt3;
bool g_endAt4;

template <int N>
void Phase(SequenceLocals& locals)
{
    g_ran.push_back(N);
    if (N == 3 && g_rcAt3 != 0)
        locals.rc = g_rcAt3;
    if (N == 4 && g_endAt4)
        locals.endPhases = true;
}

bool Never(const SequenceLocals&) { return false; }
bool Always(const SequenceLocals&) { return true; }

// Rows run in order, a failing condition skips its row, the first non-zero
// code ends the phases, except a restart code that goes on into rows that take
// one; endPhases stops with the code kept.
TEST(RunPhases, OrderSkipsCodesAndEnd)
{
    const PhaseRow phases[] = {
        {1, "one", Phase<1>, nullptr, false},  {2, "two", Phase<2>, Never, false},
        {3, "three", Phase<3>, Always, false}, {4, "four", Phase<4>, nullptr, true},
        {5, "five", Phase<5>, nullptr, true},  {6, "six", Phase<6>, nullptr, false},
    };
    struct Row { const char* what; long rcAt3; bool endAt4; long rc; std::vector<int> ran; };
    const Row rows[] = {
        {"all run, row 2 skipped", 0, false, 0, {1, 3, 4, 5, 6}},
        {"failure code", 1223, false, 1223, {1, 3}},
        {"restart 3010", 3010, false, 3010, {1, 3, 4, 5}},
        {"restart 1641", 1641, false, 1641, {1, 3, 4, 5}},
        {"endPhases", 0, true, 0, {1, 3, 4}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        g_ran.clear();
        g_rcAt3 = row.rcAt3;
        g_endAt4 = row.endAt4;
        SequenceLocals locals;
        EXPECT_EQ(row.rc, RunPhases(phases, sizeof(phases) / sizeof(phases[0]), locals));
        EXPECT_EQ(row.ran, g_ran);
    }
}

// A phase missing from the build stops the run with 50 and a line that passes
// every verbosity; a missing phase whose condition fails is no reason to stop.
TEST(RunPhases, MissingPhaseStopsTheRunAndSaysWhich)
{
    const PhaseRow rows[] = {
        {1, "one", Phase<1>, nullptr, false},
        {2, "skipped gap", nullptr, Never, false},
        {3, "gap", nullptr, nullptr, false},
        {4, "four", Phase<4>, nullptr, false},
    };
    fwtest::TempDir dir("fwphases");
    SetLogFile(dir.File("run.log").c_str());
    SetLogVerbosity(0);
    g_ran.clear();
    g_rcAt3 = 0;
    SequenceLocals locals;
    EXPECT_EQ(RC_NOT_SUPPORTED, RunPhases(rows, 4, locals));
    SetLogFile(nullptr);
    EXPECT_EQ((std::vector<int>{1}), g_ran);
    EXPECT_EQ(std::vector<std::string>({"E\tPhase 3 (gap) is not available in this build: the run stops here."}),
              fwtest::ReadLines(dir.File("run.log")));
}

// Multi-MS: the installed package's version tells the editions apart; one
// that names no version is not taken for the oldest of all.
TEST(MultiMs, InstalledVersionDecidesTheSkip)
{
    struct Row { const char* version; bool dotNet; bool skip; };
    const Row rows[] = {{"", true, false}, {"6.1.0", true, true}, {"16.1.0", false, true}, {"16.1.0", true, false}};
    fwtest::TempDir dir("fwmultims");
    fwtest::RegistryGuard registry;
    const std::string key = std::string("HKLM\\") + UNINSTALL_KEY + "\\{0FEDCBA9" + PRODUCT_CODE_TAIL;
    for (const Row& row : rows)
    {
        SCOPED_TRACE(std::string("version '") + row.version + "'" + (row.dotNet ? ", .NET edition" : ""));
        ASSERT_TRUE(registry.SetValue(key, DISPLAY_VERSION_VALUE, REG_SZ, row.version, (DWORD)strlen(row.version) + 1));
        RunState.Reset();
        RunState.multiMode = true;
        RunState.dotNetEdition = row.dotNet;
        RunState.targetDir = dir.Path().c_str();
        SequenceLocals locals;
        PhaseMultiMs(locals);
        EXPECT_EQ(row.skip, locals.skipMsi);
    }
    RunState.Reset();
}
} // namespace
