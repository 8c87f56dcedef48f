// The spine of the main sequence: the version label, the order of the phases,
// when a phase is skipped or ends the run, and the stop at a phase that is not
// part of the build.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "Fernwick.h"
#include "Log.h"
#include "RunState.h"
#include "TestSupport.h"

namespace
{
TEST(MakeVersionLabel, Table)
{
    struct LabelRow { const char* text; bool prefixOne; bool written; const char* expected; };
    const std::string max31(31, '9');
    const std::string max30(30, '9');
    const LabelRow rows[] = {
        {"2.1", false, true, "V2.1"},
        {"2.1", true, true, "V12.1"},
        {"v2.1", false, true, "V2.1"},
        {"V2.1", true, true, "V12.1"},
        {"vV2", false, true, "VV2"},          // only one leading v is dropped
        {"V", false, true, "V"},
        {max31.c_str(), false, false, ""},    // "V" + 31 does not fit 32
        {max30.c_str(), false, true, nullptr},
        {max30.c_str(), true, false, ""},     // "V1" + 30 does not fit either
    };
    for (const LabelRow& row : rows)
    {
        SCOPED_TRACE(std::string(row.text) + (row.prefixOne ? " (V1)" : ""));
        char out[64] = "untouched";
        EXPECT_EQ(row.written, MakeVersionLabel(row.text, out, 32, row.prefixOne));
        std::string expected = row.expected ? row.expected : "V" + std::string(row.text);
        EXPECT_EQ(expected, out);
    }
}

TEST(MakeVersionLabel, WritesNothingWithoutText)
{
    char out[32] = "keep";
    EXPECT_FALSE(MakeVersionLabel(nullptr, out, sizeof(out), false));
    EXPECT_FALSE(MakeVersionLabel("", out, sizeof(out), true));
    EXPECT_STREQ("keep", out);
    EXPECT_FALSE(MakeVersionLabel("2.1", nullptr, 32, false));
}

// Phases that record their number and set what the row's test asks for.
std::vector<int> g_ran;
long g_rcToSet[30];
bool g_endAt[30];

template <int N>
void Phase(SequenceLocals& locals)
{
    g_ran.push_back(N);
    if (g_rcToSet[N] != 0)
        locals.rc = g_rcToSet[N];
    if (g_endAt[N])
        locals.endPhases = true;
}

bool Never(const SequenceLocals&) { return false; }
bool Always(const SequenceLocals&) { return true; }

class RunPhasesTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        g_ran.clear();
        memset(g_rcToSet, 0, sizeof(g_rcToSet));
        memset(g_endAt, 0, sizeof(g_endAt));
        SetLogFile(m_dir.File("run.log").c_str());
        SetLogVerbosity(3);
    }
    void TearDown() override { SetLogFile(nullptr); }
    std::vector<std::string> LogLines() { return fwtest::ReadLines(m_dir.File("run.log")); }

    fwtest::TempDir m_dir{"fwphases"};
};

const PhaseRow kRows[] = {
    {1, "one", Phase<1>, nullptr, false},
    {2, "two", Phase<2>, Never, false},
    {3, "three", Phase<3>, Always, false},
    {4, "four", Phase<4>, nullptr, true},
    {5, "five", Phase<5>, nullptr, true},
    {6, "six", Phase<6>, nullptr, false},
};

// Rows run in order, a failing condition skips its row, the first non-zero
// code ends the phases, except a restart code that goes on into rows that take
// one; endPhases stops with the code kept.
TEST_F(RunPhasesTest, OrderSkipsCodesAndEnd)
{
    struct Row { const char* what; long rcAt3; bool endAt4; long rc; std::vector<int> ran; };
    const Row rows[] = {
        {"all run, row 2 skipped", 0, false, 0, {1, 3, 4, 5, 6}},
        {"failure code", 1223, false, 1223, {1, 3}},
        {"other code", 2, false, 2, {1, 3}},
        {"restart 3010", 3010, false, 3010, {1, 3, 4, 5}},
        {"restart 1641", 1641, false, 1641, {1, 3, 4, 5}},
        {"endPhases", 0, true, 0, {1, 3, 4}},
    };
    for (const Row& row : rows)
    {
        SCOPED_TRACE(row.what);
        g_ran.clear();
        g_rcToSet[3] = row.rcAt3;
        g_endAt[4] = row.endAt4;
        SequenceLocals locals;
        EXPECT_EQ(row.rc, RunPhases(kRows, sizeof(kRows) / sizeof(kRows[0]), locals));
        EXPECT_EQ(row.ran, g_ran);
    }
}

// A phase missing from the build stops the run with 50 and a line that passes
// every verbosity; a missing phase whose condition fails is no reason to stop.
TEST_F(RunPhasesTest, MissingPhaseStopsTheRunAndSaysWhich)
{
    const PhaseRow rows[] = {
        {1, "one", Phase<1>, nullptr, false},
        {2, "skipped gap", nullptr, Never, false},
        {3, "gap", nullptr, nullptr, false},
        {4, "four", Phase<4>, nullptr, false},
    };
    SetLogVerbosity(0);
    SequenceLocals locals;
    EXPECT_EQ(RC_NOT_AVAILABLE, RunPhases(rows, 4, locals));
    EXPECT_EQ((std::vector<int>{1}), g_ran);
    std::vector<std::string> lines = LogLines();
    ASSERT_EQ(1u, lines.size());
    EXPECT_EQ("E\tPhase 3 (gap) is not available in this build: the run stops here.", lines[0]);
}

// The release program must start on every Windows it supports: it may not
// import what older systems lack (msvcrt.dll before XP has no _vscwprintf,
// the first comctl32 no InitCommonControlsEx). The 32-bit runtime library
// brings its own _vscprintf, so that one is left to it.
TEST(ProgramImports, NothingThatOlderWindowsLack)
{
    std::string exe = fwtest::BinDir() + "\\fernwick.exe";
    HMODULE image = LoadLibraryExA(exe.c_str(), NULL, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE((HMODULE)NULL, image) << exe;
    const BYTE* base = (const BYTE*)image;
    const IMAGE_NT_HEADERS* nt =
        (const IMAGE_NT_HEADERS*)(base + ((const IMAGE_DOS_HEADER*)base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    std::vector<std::string> names;
    for (const IMAGE_IMPORT_DESCRIPTOR* d =
             (const IMAGE_IMPORT_DESCRIPTOR*)(base + dir.VirtualAddress);
         d->Name != 0; ++d)
    {
        const IMAGE_THUNK_DATA* thunk = (const IMAGE_THUNK_DATA*)(
            base + (d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk));
        for (; thunk->u1.AddressOfData != 0; ++thunk)
        {
            if (IMAGE_SNAP_BY_ORDINAL(thunk->u1.Ordinal))
                continue;
            names.push_back(
                (const char*)((const IMAGE_IMPORT_BY_NAME*)(base + thunk->u1.AddressOfData))->Name);
        }
    }
    FreeLibrary(image);
    ASSERT_FALSE(names.empty());
    for (const char* missing : { "_vscwprintf", "InitCommonControlsEx" })
        EXPECT_EQ(names.end(), std::find(names.begin(), names.end(), missing)) << missing;
}
} // namespace
