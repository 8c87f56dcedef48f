#include <gtest/gtest.h>

#include <stdio.h>

#include <string>
#include <vector>

#include "FileUtil.h"
#include "Log.h"
#include "LogCapture.h"
#include "TestSupport.h"

using fwtest::LogCapture;
using fwtest::TempDir;

namespace
{
std::string Pattern(size_t size)
{
    std::string s(size, 0);
    for (size_t i = 0; i < size; i++)
        s[i] = (char)(i * 7 + i / 251);
    return s;
}

std::string Content(const std::string& path)
{
    std::string bytes;
    return fwtest::ReadBytes(path, bytes) ? bytes : "<missing>";
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Creates the file (and its folders) with the given content.
void Put(const std::string& path, const std::string& content = "x")
{
    std::string folder = path.substr(0, path.rfind('\\'));
    ASSERT_TRUE(CreateFolderTree(folder.c_str())) << folder;
    ASSERT_TRUE(fwtest::WriteBytes(path, content)) << path;
}

// What FindFiles answers: the file found, or "<none>" followed by what it left in out.
std::string Found(const char* pattern, const std::string& folder, bool descend,
                  FindFileCheck check = NULL, void* context = NULL)
{
    char out[FW_PATH_SIZE] = "garbage";
    bool found = FindFiles(pattern, folder.c_str(), descend, check, context, out);
    return found ? std::string(out) : "<none>" + std::string(out);
}

struct CopyModeScope
{
    const DWORD saved = copyMode;
    explicit CopyModeScope(DWORD mode) { copyMode = mode; }
    ~CopyModeScope() { copyMode = saved; }
};

struct ProgressCall { DWORD total, done, state; };

// Records the calls of a copy's progress routine and answers from a script
// (CONTINUE after its end).
struct ProgressScript
{
    std::vector<ProgressCall> calls;
    std::vector<DWORD> answers;
    std::string context;
    std::string watch;   // a path that must not exist while the copy runs
    int watchSeen = 0;
};

DWORD ScriptedProgress(DWORD total, DWORD done, DWORD state, void* context)
{
    ProgressScript* script = (ProgressScript*)context;
    script->calls.push_back({total, done, state});
    if (!script->watch.empty() && GetFileAttributesA(script->watch.c_str()) != INVALID_FILE_ATTRIBUTES)
        ++script->watchSeen;
    size_t i = script->calls.size() - 1;
    return i < script->answers.size() ? script->answers[i] : ALTCOPY_CONTINUE;
}

// The routine as the window passes it to CopyOneFile: its context is the destination.
ProgressScript* g_script = NULL;
DWORD GlobalProgress(DWORD total, DWORD done, DWORD state, void* context)
{
    g_script->context = (const char*)context;
    return ScriptedProgress(total, done, state, g_script);
}

bool SameTimes(const std::string& a, const std::string& b)
{
    WIN32_FILE_ATTRIBUTE_DATA da, db;
    if (!GetFileAttributesExA(a.c_str(), GetFileExInfoStandard, &da) ||
        !GetFileAttributesExA(b.c_str(), GetFileExInfoStandard, &db))
        return false;
    return CompareFileTime(&da.ftLastWriteTime, &db.ftLastWriteTime) == 0 &&
           CompareFileTime(&da.ftCreationTime, &db.ftCreationTime) == 0;
}

void SetOldTimes(const std::string& path)
{
    HANDLE file = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    SYSTEMTIME st = {2004, 2, 0, 29, 12, 34, 56, 0};
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    SetFileTime(file, &ft, &ft, &ft);
    CloseHandle(file);
}

struct CheckLog
{
    std::vector<std::string> seen;
    std::string accept;
};
bool AcceptNamed(const char* path, void* context)
{
    CheckLog* log = (CheckLog*)context;
    log->seen.push_back(path);
    return std::string(path).find(log->accept) != std::string::npos;
}

// Closes the reading end of the pipe the copy writes into, once the copy has begun.
DWORD BreakPipe(DWORD, DWORD, DWORD state, void* context)
{
    if (state == ALTCOPY_STATE_START)
        CloseHandle(*(HANDLE*)context);
    return ALTCOPY_CONTINUE;
}
} // namespace

TEST(FileUtil, PathRules)
{
    const struct { const char* path; bool absolute, local; char separator; } rows[] = {
        {"", false, false, '\\'},
        {"x.msi", false, true, '\\'},
        {"setup\\x.msi", false, true, '\\'},
        {"setup/x.msi", false, true, '/'},
        {"C:\\dist\\x.msi", true, true, '\\'},
        {"D:/x", false, true, '/'},
        {"D:", false, true, '\\'},
        {"C:x.msi", false, true, '\\'},
        {"\\\\server\\share\\x.msi", false, true, '\\'},
        {"file://C:/dist/x.msi", true, true, '/'},
        {"FILE://server/x", true, true, '/'},
        {"File:///x", true, true, '/'},
        {"http://host/dist/x.zip", true, false, '/'},
        {"HTTPS://host/x", true, false, '/'},
        {"ftp://host/x", true, false, '/'},
        {"http://host\\dist\\x.zip", true, true, '\\'},
        {"ab://c", true, false, '/'},
        {"a://b", true, true, '/'},   // a one-letter scheme reads as a drive
        {"mailto:x/y", false, true, '/'},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(row.absolute, IsAbsoluteSource(row.path));
        EXPECT_EQ(row.local, IsLocalSource(row.path));
        EXPECT_EQ(row.separator, PathSeparatorOf(row.path));
    }
    EXPECT_FALSE(IsAbsoluteSource(NULL));
    EXPECT_FALSE(IsLocalSource(NULL));
}

TEST(FileUtil, CombineSourcePath)
{
    const std::string base100 = "C:\\" + std::string(100, 'b');
    const std::string absolute = "D:\\" + std::string(256, 'a');
    const std::string n154(154, 'n'), n155(155, 'n'), joined = base100 + "\\" + n154;
    const std::string tooLong = absolute + "a";
    const struct { const char* base; const char* name; bool ok; const char* out; } rows[] = {
        {"http://host/a/", "/b\\c.zip", true, "http://host/a/b/c.zip"},
        {"http://host/a", "b/c.zip", true, "http://host/a/b/c.zip"},
        {"http://host/dist", "sys_fr.msi", true, "http://host/dist/sys_fr.msi"},
        {"http://host/dist/", "msi\\sys_fr.msi", true, "http://host/dist/msi/sys_fr.msi"},
        {"C:\\dist", "setup\\x.msi", true, "C:\\dist\\setup\\x.msi"},
        {"C:\\dist\\\\", "\\setup\\x.msi\\", true, "C:\\dist\\setup\\x.msi"},
        {"C:\\dist", "setup/sub/x.msi", true, "C:\\dist\\setup\\sub\\x.msi"},
        {"C:\\", "x.msi", true, "C:\\x.msi"},
        {"C:\\dist", "D:\\other\\x.msi", true, "D:\\other\\x.msi"},
        {"C:\\dist", "http://elsewhere/x.zip", true, "http://elsewhere/x.zip"},
        {"http://host/dist", "C:\\local\\x.msi", true, "C:\\local\\x.msi"},
        {"C:\\dist", "file://C:/x.msi", true, "file://C:/x.msi"},
        {"C:\\dist", "\\\\server\\share\\x.msi", true, "C:\\dist\\server\\share\\x.msi"},
        {"", "x.msi", false, ""},
        {"C:\\dist", "", false, ""},
        // base + name + 2 must stay below 260; an absolute name below 260 itself.
        {base100.c_str(), n154.c_str(), true, joined.c_str()},
        {base100.c_str(), n155.c_str(), false, ""},
        {"C:\\d", absolute.c_str(), true, absolute.c_str()},
        {"C:\\d", tooLong.c_str(), false, ""},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(std::string(row.base) + " + " + row.name);
        char out[FW_PATH_SIZE] = "garbage";
        EXPECT_EQ(row.ok, CombineSourcePath(row.base, row.name, out));
        EXPECT_STREQ(row.out, out);
    }
}

// The wrappers serve every run; these are the answers a run does not meet.
TEST(FileUtil, FileAndFolderEdges)
{
    TempDir dir("files");
    std::string file = dir.File("a.txt");
    Put(file);
    EXPECT_FALSE(FileExists(dir.Path().c_str())) << "a folder is not a file";
    HANDLE locked = CreateFileA(file.c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, locked);
    EXPECT_FALSE(FileExists(file.c_str())) << "locked against readers: taken as missing";
    CloseHandle(locked);
    EXPECT_FALSE(FileExistsIn(dir.Path().c_str(), std::string(260, 'a').c_str()));
    char out[FW_PATH_SIZE];
    EXPECT_FALSE(ParentFolder(std::string(260, 'a').c_str(), out));
    EXPECT_FALSE(ForceDeleteFile(dir.Path().c_str())) << "never a folder";

    EXPECT_FALSE(CreateFolderTree(dir.File("a.txt\\sub").c_str())) << "below a file";
    // No backslash and not a folder: nothing to climb to, and no endless descent.
    LogCapture log;
    EXPECT_FALSE(CreateFolderTree("fw_no_such_relative_folder"));
    EXPECT_TRUE(log.Contains("no parent folder in 'fw_no_such_relative_folder'"));
    EXPECT_FALSE(CreateFolderTree("Q:"));
}

TEST(FileUtil, FindFilesDescendsOnlyWhereNothingMatched)
{
    TempDir root("fwf", "C:\\"); // FindFiles descends only a few levels below the root
    // The pattern matches nothing in the root; a\ holds a match, b\c\ too.
    Put(root.File("readme.txt"));
    Put(root.File("a\\x.exe.config"));
    Put(root.File("b\\c\\x.exe"));

    EXPECT_EQ("<none>", Found("x.exe*", root.Path(), false));
    std::string found = Found("x.exe*", root.Path(), true);
    EXPECT_TRUE(found == root.File("a\\x.exe.config") || found == root.File("b\\c\\x.exe")) << found;

    Put(root.File("x.exe"));
    EXPECT_EQ(root.File("x.exe"), Found("x.exe*", root.Path(), true)) << "a match here: no descent";

    EXPECT_EQ("<none>", Found("b", root.Path(), true)) << "folders are never the answer";
    EXPECT_EQ("<none>", Found("x.exe", root.File("missing"), true));
    EXPECT_EQ("<none>", Found("x.exe", root.File("readme.txt"), true));
    EXPECT_EQ("<none>", Found("x.exe", "", true));
}

TEST(FileUtil, FindFilesDepthIsLimited)
{
    TempDir root("fwf", "C:\\"); // FindFiles descends only a few levels below the root
    // The descent leaves a folder only while "<folder>\*" holds at most 5
    // backslashes: C:\fwfN\1\2\3\4 is still searched, C:\fwfN\1\2\3\4\5 is not.
    Put(root.File("1\\2\\3\\4\\found.mdb"));
    EXPECT_EQ(root.File("1\\2\\3\\4\\found.mdb"), Found("*.mdb", root.Path(), true));

    ASSERT_TRUE(DeleteFileA(root.File("1\\2\\3\\4\\found.mdb").c_str()));
    Put(root.File("1\\2\\3\\4\\5\\deep.mdb"));
    EXPECT_EQ("<none>", Found("*.mdb", root.Path(), true));
    EXPECT_EQ("<none>", Found("*.mdb", root.File("1\\2"), true))
        << "the depth counts from the drive, not from where the search starts";
    EXPECT_EQ(root.File("1\\2\\3\\4\\5\\deep.mdb"), Found("*.mdb", root.File("1\\2\\3\\4\\5"), false))
        << "a deep folder is still searched itself";
}

TEST(FileUtil, FindFilesAppliesTheCheck)
{
    TempDir root("fwf", "C:\\"); // FindFiles descends only a few levels below the root
    Put(root.File("v1.dat"));
    Put(root.File("v2.dat"));
    Put(root.File("v3.dat"));

    CheckLog log;
    log.accept = "v2";
    EXPECT_EQ(root.File("v2.dat"), Found("*.dat", root.Path(), false, AcceptNamed, &log));
    EXPECT_EQ(root.File("v2.dat"), log.seen.back()) << "the search stops at the accepted file";

    CheckLog none;
    none.accept = "nothing";
    std::string found = Found("*.dat", root.Path(), false, AcceptNamed, &none);
    ASSERT_EQ(3u, none.seen.size());
    EXPECT_EQ("<none>" + none.seen.back(), found) << "out holds the last file tried";

    // Through the combined form, from a relative path as well.
    char out[FW_PATH_SIZE];
    CheckLog again;
    again.accept = "v3";
    EXPECT_TRUE(FindFilesByPath(root.File("v*.dat").c_str(), false, AcceptNamed, &again, out));
    EXPECT_EQ(root.File("v3.dat"), out);
    char current[FW_PATH_SIZE];
    ASSERT_TRUE(GetCurrentFolder(current));
    ASSERT_TRUE(SetCurrentDirectoryA(root.Path().c_str()));
    EXPECT_TRUE(FindFilesByPath("v1.dat", false, NULL, NULL, out));
    SetCurrentDirectoryA(current);
    EXPECT_EQ(root.File("v1.dat"), out);
    EXPECT_FALSE(FindFilesByPath((root.Path() + "\\").c_str(), true, NULL, NULL, out));
    EXPECT_FALSE(FindFilesByPath("", true, NULL, NULL, out));
}

TEST(FileUtil, AltCopyReportsProgressAndCarriesTimesAndAttributes)
{
    TempDir dir("alt");
    std::string source = dir.File("src.bin");
    std::string dest = dir.File("dst.bin");
    const DWORD C = ALTCOPY_CHUNK_SIZE;
    const struct { size_t size; std::vector<DWORD> done; } rows[] = {   // done: after each chunk
        {0, {}},
        {2 * C + 1808, {C, 2 * C, 2 * C + 1808}},
        {3 * C, {C, 2 * C, 3 * C}},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.size);
        Put(source, Pattern(row.size));
        SetOldTimes(source);
        SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);

        ProgressScript script;
        script.watch = dest; // a run killed part-way leaves no partial file under the final name
        bool cancelled = true;
        EXPECT_EQ(1, AltCopyFileEx(source.c_str(), dest.c_str(), ScriptedProgress, &script,
                                   &cancelled, false));
        EXPECT_FALSE(cancelled);
        EXPECT_EQ(0, script.watchSeen);
        EXPECT_EQ(Pattern(row.size), Content(dest));
        ASSERT_EQ(row.done.size() + 1, script.calls.size());
        EXPECT_EQ(ALTCOPY_STATE_START, script.calls[0].state);
        EXPECT_EQ(0u, script.calls[0].done);
        for (size_t i = 0; i < script.calls.size(); i++)
        {
            EXPECT_EQ(row.size, script.calls[i].total);
            if (i > 0)
            {
                EXPECT_EQ(row.done[i - 1], script.calls[i].done);
                EXPECT_EQ(ALTCOPY_STATE_CHUNK, script.calls[i].state);
            }
        }
        EXPECT_TRUE(SameTimes(source, dest));
        EXPECT_EQ(GetFileAttributesA(source.c_str()), GetFileAttributesA(dest.c_str()));

        SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
        SetFileAttributesA(dest.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileA(dest.c_str());
    }
}

TEST(FileUtil, AltCopyCancelRemovesTheDestination)
{
    TempDir dir("cancel");
    std::string source = dir.File("src.bin");
    std::string dest = dir.File("dst.bin");
    const size_t fiveChunks = 4 * ALTCOPY_CHUNK_SIZE + 3616;
    const struct { const char* name; size_t size; std::vector<DWORD> answers; size_t calls; } rows[] = {
        {"at the start", fiveChunks, {ALTCOPY_CANCEL}, 1},
        // The window forgets a cancel once answered: the copy must not go on.
        {"at the start, then continue", fiveChunks, {ALTCOPY_CANCEL, ALTCOPY_CONTINUE}, 1},
        {"after the second chunk", fiveChunks, {0, 0, ALTCOPY_CANCEL}, 3},
        {"on the last chunk", fiveChunks, {0, 0, 0, 0, 0, ALTCOPY_CANCEL}, 6},
        {"any other non-zero answer", fiveChunks, {0, 2}, 2},
        {"an empty file at the start", 0, {ALTCOPY_CANCEL}, 1},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        Put(source, Pattern(row.size));
        Put(dest, "old content");
        ProgressScript script;
        script.answers = row.answers;
        bool cancelled = false;
        EXPECT_EQ(0, AltCopyFileEx(source.c_str(), dest.c_str(), ScriptedProgress, &script,
                                   &cancelled, false));
        EXPECT_EQ((DWORD)ERROR_CANCELLED, GetLastError());
        EXPECT_TRUE(cancelled);
        EXPECT_EQ(row.calls, script.calls.size());
        EXPECT_FALSE(Exists(dest));
    }
}

TEST(FileUtil, AltCopyFailures)
{
    TempDir dir("altfail");
    std::string source = dir.File("src.bin");
    std::string dest = dir.File("dst.bin");
    Put(source, Pattern(9000));
    LogCapture log;

    // A read-only (and hidden) destination is replaced; no routine or flag needed.
    Put(dest, "old");
    SetFileAttributesA(dest.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    EXPECT_EQ(1, AltCopyFileEx(source.c_str(), dest.c_str(), NULL, NULL, NULL, false));
    EXPECT_EQ(Pattern(9000), Content(dest));

    SetFileAttributesA(dest.c_str(), FILE_ATTRIBUTE_NORMAL);
    Put(dest, "keep");
    bool cancelled = true;
    EXPECT_EQ(0, AltCopyFileEx(source.c_str(), dest.c_str(), NULL, NULL, &cancelled, true));
    EXPECT_EQ("keep", Content(dest)) << "fail-if-exists keeps what is there";
    EXPECT_TRUE(log.Contains("AltCopyFileEx will *not* overwrite '" + dest + "'"));

    EXPECT_EQ(0, AltCopyFileEx(dir.File("none").c_str(), dest.c_str(), NULL, NULL, &cancelled, false));
    EXPECT_FALSE(cancelled);
    EXPECT_TRUE(log.Contains("AltCopyFileEx could not open '" + dir.File("none") + "' [2]"));
    EXPECT_EQ(0, AltCopyFileEx(source.c_str(), dir.File("no\\dir\\x").c_str(), NULL, NULL, NULL, false));
    EXPECT_TRUE(log.Contains("AltCopyFileEx could not create '" + dir.File("no\\dir\\x") + "' [3]"));
}

TEST(FileUtil, AltCopyThatCannotFinishIsAFailure)
{
    TempDir dir("altbroken");
    LogCapture log;
    std::string dest = dir.File("dst.bin");

    // A read that fails: the process's own memory file cannot be read from its
    // start (Wine reaches the host's files through Z:). A failure, not a short
    // file, and the half-made destination goes.
    const std::string unreadable = "Z:\\proc\\self\\mem";
    bool cancelled = true;
    EXPECT_EQ(0, AltCopyFileEx(unreadable.c_str(), dest.c_str(), NULL, NULL, &cancelled, false));
    EXPECT_FALSE(cancelled) << "a failure, not a cancel";
    EXPECT_FALSE(Exists(dest));
    EXPECT_TRUE(log.Contains("AltCopyFileEx could not read chunk from '" + unreadable + "' (0 of 0)"));
    EXPECT_TRUE(log.Contains("AltCopyFileEx did not finish copying '" + unreadable));

    // A write that fails: the destination is a pipe whose reader goes away.
    std::string source = dir.File("src.bin");
    Put(source, Pattern(9000));
    std::string pipe = "\\\\.\\pipe\\fwcopy" + std::to_string(GetCurrentProcessId());
    HANDLE reader = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                     1, 0, 65536, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    cancelled = true;
    EXPECT_EQ(0, AltCopyFileEx(source.c_str(), pipe.c_str(), BreakPipe, &reader, &cancelled, false));
    EXPECT_FALSE(cancelled);
    EXPECT_TRUE(log.Contains("AltCopyFileEx could not write chunk from '" + source + "' to '" + pipe +
                             "' (0 of 9000)"));
}

// Every mode replaces a read-only copy and leaves its own copy writable.
TEST(FileUtil, CopyOneFileInEveryMode)
{
    TempDir dir("copyone");
    std::string source = dir.File("in\\data.mdb");
    Put(source, Pattern(5000));
    SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY);
    for (DWORD mode : {COPY_MODE_SYSTEM, COPY_MODE_SHELL, COPY_MODE_CHUNKED})
    {
        SCOPED_TRACE(mode);
        CopyModeScope scope(mode);
        std::string folder = dir.File("out" + std::to_string(mode));
        Put(folder + "\\data.mdb", "old");
        SetFileAttributesA((folder + "\\data.mdb").c_str(), FILE_ATTRIBUTE_READONLY);
        EXPECT_TRUE(CopyOneFile(source.c_str(), folder.c_str(), NULL));
        EXPECT_EQ(Pattern(5000), Content(folder + "\\data.mdb"));
        EXPECT_EQ(0u, GetFileAttributesA((folder + "\\data.mdb").c_str()) & FILE_ATTRIBUTE_READONLY);
        EXPECT_FALSE(CopyOneFile(dir.File("none").c_str(), folder.c_str(), NULL));
    }
    SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FileUtil, CopyOneFileChunkedPassesTheDestinationAndCancel)
{
    TempDir dir("chunked");
    std::string source = dir.File("data.mdb");
    const size_t threeChunks = 2 * ALTCOPY_CHUNK_SIZE + 808;
    Put(source, Pattern(threeChunks));
    CopyModeScope scope(COPY_MODE_CHUNKED);
    LogCapture log;

    ProgressScript script;
    g_script = &script;
    EXPECT_FALSE(CopyOneFile(source.c_str(), dir.Path().c_str(), GlobalProgress))
        << "a file onto itself cannot be opened for writing";
    EXPECT_EQ(Pattern(threeChunks), Content(source)) << "and is not harmed";
    script = ProgressScript();
    std::string folder = dir.File("t");
    ASSERT_TRUE(CreateFolderTree(folder.c_str()));
    EXPECT_TRUE(CopyOneFile(source.c_str(), folder.c_str(), GlobalProgress));
    EXPECT_EQ(folder + "\\data.mdb", script.context) << "the routine's context is the destination";
    EXPECT_EQ(4u, script.calls.size());

    script = ProgressScript();
    script.answers = {0, ALTCOPY_CANCEL};
    std::string dest = dir.File("t\\cancelled.mdb");
    EXPECT_FALSE(CopyOneFile(source.c_str(), dest.c_str(), GlobalProgress));
    EXPECT_TRUE(lastCopyCancelled);
    EXPECT_FALSE(Exists(dest));
    EXPECT_TRUE(log.Contains("AltCopyFileEx '" + source + "' to '" + dest + "' Cancelled [1223]"))
        << log.Text();

    EXPECT_TRUE(CopyOneFile(source.c_str(), dest.c_str(), NULL));
    EXPECT_FALSE(lastCopyCancelled) << "reset by the next copy";
    g_script = NULL;
}

// The copies that succeed are those of every whole run; a copy onto itself
// is nothing to do, a folder that cannot be made is said.
TEST(FileUtil, CopyFileCreatingFoldersEdges)
{
    TempDir dir("creating");
    std::string source = dir.File("src\\Data_LU.mdb");
    Put(source, "data");
    CopyModeScope scope(COPY_MODE_CHUNKED);
    EXPECT_TRUE(CopyFileCreatingFolders(source.c_str(), dir.File("SRC").c_str(), "data_lu.MDB", NULL));
    EXPECT_EQ("data", Content(source));

    LogCapture log;
    Put(dir.File("blocker"));
    EXPECT_FALSE(CopyFileCreatingFolders(source.c_str(), dir.File("blocker").c_str(), "x\\y.mdb", NULL));
    EXPECT_TRUE(log.Contains("CopyFile Could not create directory: '" + dir.File("blocker\\x") + "' [183]"));
    EXPECT_FALSE(CopyFileCreatingFolders(source.c_str(), dir.Path().c_str(), std::string(260, 'n').c_str(), NULL));
}

// Contents, not the folder itself; read-only files deleted with the tree; the
// sentinel beside the tree untouched.
TEST(FileUtil, ShellOperationsOnRealTrees)
{
    TempDir dir("shell");
    std::string sentinel = dir.File("sentinel.txt");
    Put(sentinel, "stay");
    Put(dir.File("tree\\a.txt"), "a");
    Put(dir.File("tree\\sub\\deeper\\c.txt"), "c");
    EXPECT_TRUE(CopyFolderContents(dir.File("tree").c_str(), dir.File("copy").c_str()));
    EXPECT_EQ("c", Content(dir.File("copy\\sub\\deeper\\c.txt")));
    EXPECT_TRUE(MoveFolder((dir.File("copy") + "\\").c_str(), dir.File("moved").c_str()));
    EXPECT_FALSE(Exists(dir.File("copy")));
    SetFileAttributesA(dir.File("tree\\sub\\deeper\\c.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_TRUE(DeleteFolderTree((dir.File("tree") + "\\").c_str()));
    EXPECT_FALSE(Exists(dir.File("tree")));
    EXPECT_FALSE(DeleteFolderTree(dir.File("tree").c_str())) << "gone already";
    EXPECT_FALSE(MoveFolder(sentinel.c_str(), dir.File("x").c_str())) << "a file is no folder";
    EXPECT_EQ("stay", Content(sentinel));
}

TEST(FileUtil, ShellOperationsRefuseDangerousPaths)
{
    TempDir dir("refuse");
    LogCapture log;
    // A relative folder that really exists in the current folder: the shell
    // would take it, so the refusal must come first.
    char current[FW_PATH_SIZE];
    ASSERT_TRUE(GetCurrentFolder(current));
    ASSERT_TRUE(SetCurrentDirectoryA(dir.Path().c_str()));
    Put(dir.File("relative\\keep.txt"), "keep");
    EXPECT_FALSE(DeleteFolderTree("relative"));
    EXPECT_FALSE(DeleteFolderTree(".\\relative"));
    EXPECT_FALSE(MoveFolder("relative", dir.File("moved").c_str()));
    EXPECT_FALSE(CopyFolderContents(dir.File("relative").c_str(), "elsewhere"));
    SetCurrentDirectoryA(current);
    EXPECT_EQ("keep", Content(dir.File("relative\\keep.txt")));
    EXPECT_FALSE(Exists(dir.File("elsewhere")));
    EXPECT_TRUE(log.Contains("DeleteFolderTree refused 'relative': not a full path"));

    // Roots on a drive and a server that do not exist: harmless if a refusal failed.
    const struct { const char* path; const char* reason; } rows[] = {
        {"", "empty path"},
        {"Q:\\", "root folder"},
        {"Q:\\\\", "root folder"},
        {"Q:\\fw\\..", "root folder"},
        {"Q:\\fw\\..\\.", "root folder"},
        {"\\\\nohost\\share", "root folder"},
        {"\\\\nohost\\share\\", "root folder"},
        {"Q:", "not a full path"},
        {"\\fw", "not a full path"},
        {"Q:\\fw\\*", "wildcard in path"},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.path);
        EXPECT_FALSE(DeleteFolderTree(row.path));
        EXPECT_TRUE(log.Contains(std::string("DeleteFolderTree refused '") + row.path + "': " + row.reason));
        EXPECT_FALSE(MoveFolder(row.path, dir.File("m").c_str()));
        EXPECT_FALSE(CopyFolderContents(dir.Path().c_str(), row.path));
        EXPECT_TRUE(log.Contains(std::string("CopyFolderContents refused '") + row.path + "'"));
    }
    EXPECT_FALSE(DeleteFolderTree(NULL));
    EXPECT_FALSE(DeleteFolderTree(std::string(300, 'a').c_str()));
}
