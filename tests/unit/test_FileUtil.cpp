// Successful copies, moves and deletes of ordinary files and trees are those of
// every whole run (e2e_install); these are the boundaries and failures a run
// does not meet.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "FileUtil.h"
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

// Creates the file (and its folders) with the given content.
void Put(const std::string& path, const std::string& content = "x")
{
    ASSERT_TRUE(fwtest::WriteBytes(path, content)) << path;
}

struct CopyModeScope
{
    const DWORD saved = copyMode;
    explicit CopyModeScope(DWORD mode) { copyMode = mode; }
    ~CopyModeScope() { copyMode = saved; }
};

// Answers a copy's progress calls from a script (CONTINUE after its end).
struct ProgressScript
{
    size_t calls = 0;
    std::vector<DWORD> answers;
};

DWORD ScriptedProgress(DWORD, DWORD, DWORD, void* context)
{
    ProgressScript* script = (ProgressScript*)context;
    size_t i = script->calls++;
    return i < script->answers.size() ? script->answers[i] : ALTCOPY_CONTINUE;
}

} // namespace

// Local and web distributions are every whole run's; a source on a share is
// local, and a download is never taken for a local file (a local installer is
// judged by other rules), whatever the case of its scheme.
TEST(FileUtil, PathRules)
{
    const struct { const char* path; bool absolute, local; char separator; } rows[] = {
        {"\\\\server\\share\\x.msi", false, true, '\\'},
        {"HTTPS://host/x", true, false, '/'},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(row.absolute, IsAbsoluteSource(row.path));
        EXPECT_EQ(row.local, IsLocalSource(row.path));
        EXPECT_EQ(row.separator, PathSeparatorOf(row.path));
    }
}

// Joins of the base and a name are every whole run's downloads and copies;
// here the joins that do not fit a path.
TEST(FileUtil, CombineSourcePath)
{
    const std::string base100 = "C:\\" + std::string(100, 'b');
    const std::string absolute = "D:\\" + std::string(256, 'a');
    const std::string n154(154, 'n'), n155(155, 'n'), joined = base100 + "\\" + n154;
    const std::string tooLong = absolute + "a";
    const struct { const char* base; const char* name; bool ok; const char* out; } rows[] = {
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
    EXPECT_FALSE(ForceDeleteFile(dir.Path().c_str())) << "never a folder";
    EXPECT_FALSE(CreateFolderTree(dir.File("a.txt\\sub").c_str())) << "below a file";
    // No backslash and not a folder: nothing to climb to, and no endless descent.
    EXPECT_FALSE(CreateFolderTree("fw_no_such_relative_folder"));
}

// The search descends only where the pattern matched nothing, only a few
// levels below the drive, and never answers with a folder.
TEST(FileUtil, FindFiles)
{
    TempDir root("fwf", "C:\\");
    const std::string r = root.Path();
    Put(root.File("top.dat"));
    Put(root.File("a\\top.dat"));
    // The descent leaves a folder only while "<folder>\*" holds at most 5
    // backslashes: C:\fwfN\1\2\3\4 is still searched, C:\fwfN\1\2\3\4\5 is not.
    Put(root.File("1\\2\\3\\4\\found.mdb"));
    Put(root.File("1\\2\\3\\4\\5\\deep.mdb"));
    const struct { const char* pattern; std::string folder; bool descend; std::string found; } rows[] = {
        {"top.dat", r, true, root.File("top.dat")},  // not the copy below it
        {"found.mdb", r, true, root.File("1\\2\\3\\4\\found.mdb")},
        {"deep.mdb", root.File("1\\2"), true, "<none>"},  // the depth counts from the drive
        {"a", r, true, "<none>"},
    };
    for (const auto& row : rows)
    {
        char out[FW_PATH_SIZE] = "";
        bool found = FindFiles(row.pattern, row.folder.c_str(), row.descend, NULL, NULL, out);
        EXPECT_EQ(row.found, found ? out : "<none>") << row.folder << " " << row.pattern;
    }
    char out[FW_PATH_SIZE];
    EXPECT_FALSE(FindFilesByPath((r + "\\").c_str(), true, NULL, NULL, out));
}

// The whole content at the edges of the chunks; a cancel, from the first
// answer to the last, leaves no destination at all (the old one is gone too).
TEST(FileUtil, AltCopyProgressAndCancel)
{
    TempDir dir("alt");
    std::string source = dir.File("src.bin");
    std::string dest = dir.File("dst.bin");
    const DWORD C = ALTCOPY_CHUNK_SIZE, fiveChunks = 4 * C + 3616;
    // The first answer is to the start, each next one to the end of a chunk.
    const struct { const char* name; DWORD size; std::vector<DWORD> answers; bool copied; } rows[] = {
        {"empty", 0, {}, true},
        {"three chunks", 2 * C + 1808, {}, true},
        {"exactly three chunks", 3 * C, {}, true},
        {"cancel at the start", fiveChunks, {ALTCOPY_CANCEL}, false},
        // The window forgets a cancel once answered: the copy must not go on.
        {"cancel, then continue", fiveChunks, {ALTCOPY_CANCEL, ALTCOPY_CONTINUE}, false},
        {"cancel on the last chunk", fiveChunks, {0, 0, 0, 0, 0, ALTCOPY_CANCEL}, false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.name);
        Put(source, Pattern(row.size));
        Put(dest, "old content");
        ProgressScript script;
        script.answers = row.answers;
        bool cancelled = !row.copied;
        const int copied = AltCopyFileEx(source.c_str(), dest.c_str(), ScriptedProgress, &script, &cancelled, false);
        const DWORD error = GetLastError();
        EXPECT_EQ(row.copied, copied == 1);
        EXPECT_EQ(!row.copied, cancelled);
        EXPECT_EQ(row.copied ? Pattern(row.size) : "<missing>", Content(dest));
        EXPECT_TRUE(row.copied || error == ERROR_CANCELLED) << error;
    }
}

// The copy has the source's attributes and times, whether it is new or
// replaces a file, read-only or hidden, that was there.
TEST(FileUtil, AltCopyCarriesTheSourcesAttributes)
{
    TempDir dir("altattr");
    const std::string source = dir.File("src.bin");
    Put(source, Pattern(5000));
    FILETIME old = {0x12345678u, 0x01D00000u};
    HANDLE touch = CreateFileA(source.c_str(), FILE_WRITE_ATTRIBUTES, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, touch);
    SetFileTime(touch, NULL, NULL, &old);
    CloseHandle(touch);
    const DWORD kinds[] = {FILE_ATTRIBUTE_ARCHIVE, FILE_ATTRIBUTE_NORMAL, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE,
                           FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE};
    for (DWORD kind : kinds)
        for (DWORD there : {(DWORD)0, (DWORD)FILE_ATTRIBUTE_READONLY, (DWORD)FILE_ATTRIBUTE_HIDDEN})
        {
            SCOPED_TRACE(std::to_string(kind) + " onto " + std::to_string(there));
            ASSERT_TRUE(SetFileAttributesA(source.c_str(), kind));
            const std::string dest = dir.File("dst" + std::to_string(kind) + "_" + std::to_string(there) + ".bin");
            if (there != 0)
            {
                Put(dest, "old content");
                SetFileAttributesA(dest.c_str(), there);
            }
            ASSERT_EQ(1, AltCopyFileEx(source.c_str(), dest.c_str(), NULL, NULL, NULL, false));
            EXPECT_EQ(Pattern(5000), Content(dest));
            EXPECT_EQ(GetFileAttributesA(source.c_str()), GetFileAttributesA(dest.c_str()));
            WIN32_FILE_ATTRIBUTE_DATA data;
            ASSERT_TRUE(GetFileAttributesExA(dest.c_str(), GetFileExInfoStandard, &data));
            EXPECT_EQ(0, CompareFileTime(&old, &data.ftLastWriteTime));
            SetFileAttributesA(dest.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
    SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
}

// A copy that cannot finish is a failure, not a cancel, and leaves no half-made
// destination.
TEST(FileUtil, AltCopyFailures)
{
    TempDir dir("altfail");
    LogCapture log;
    std::string source = dir.File("src.bin");
    std::string dest = dir.File("dst.bin");
    Put(source, Pattern(9000));

    // A read that fails: the process's own memory file cannot be read from its
    // start (Wine reaches the host's files through Z:).
    const std::string unreadable = "Z:\\proc\\self\\mem";
    bool cancelled = true;
    EXPECT_EQ(0, AltCopyFileEx(unreadable.c_str(), dest.c_str(), NULL, NULL, &cancelled, false));
    EXPECT_FALSE(cancelled);
    EXPECT_EQ("<missing>", Content(dest));
    EXPECT_TRUE(log.Contains("AltCopyFileEx could not read chunk from '" + unreadable + "' (0 of 0)"));

    // A write that fails: the destination is a pipe whose reader goes away.
    std::string pipe = "\\\\.\\pipe\\fwcopy" + std::to_string(GetCurrentProcessId());
    HANDLE reader = CreateNamedPipeA(pipe.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT,
                                     1, 0, 65536, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, reader);
    auto breakPipe = [](DWORD, DWORD, DWORD state, void* context) -> DWORD {
        if (state == ALTCOPY_STATE_START)
            CloseHandle(*(HANDLE*)context);
        return ALTCOPY_CONTINUE;
    };
    cancelled = true;
    EXPECT_EQ(0, AltCopyFileEx(source.c_str(), pipe.c_str(), breakPipe, &reader, &cancelled, false));
    EXPECT_FALSE(cancelled);
    EXPECT_TRUE(log.Contains("AltCopyFileEx could not write chunk from '" + source + "' to '" + pipe +
                             "' (0 of 9000)"));
}

TEST(FileUtil, CopyOneFile)
{
    TempDir dir("copyone");
    std::string source = dir.File("data.mdb");
    Put(source, Pattern(9000));
    SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_READONLY);
    LogCapture log;
    // The program copies through the shell, and chunked from the data on: each
    // replaces a read-only copy and leaves its own copy writable.
    for (DWORD mode : {COPY_MODE_SHELL, COPY_MODE_CHUNKED})
    {
        CopyModeScope scope(mode);
        std::string folder = dir.File("out" + std::to_string(mode));
        Put(folder + "\\data.mdb", "old");
        SetFileAttributesA((folder + "\\data.mdb").c_str(), FILE_ATTRIBUTE_READONLY);
        EXPECT_TRUE(CopyOneFile(source.c_str(), folder.c_str(), NULL)) << mode;
        EXPECT_EQ(Pattern(9000), Content(folder + "\\data.mdb")) << mode;
        EXPECT_EQ(0u, GetFileAttributesA((folder + "\\data.mdb").c_str()) & FILE_ATTRIBUTE_READONLY) << mode;
        EXPECT_FALSE(CopyOneFile(dir.File("none").c_str(), folder.c_str(), NULL)) << mode;
    }
    SetFileAttributesA(source.c_str(), FILE_ATTRIBUTE_NORMAL);
    CopyModeScope scope(COPY_MODE_CHUNKED);
    // A file copied onto itself (under another case of its name too) is not harmed.
    EXPECT_FALSE(CopyOneFile(source.c_str(), dir.Path().c_str(), NULL));
    EXPECT_TRUE(CopyFileCreatingFolders(source.c_str(), dir.Path().c_str(), "DATA.MDB", NULL));
    EXPECT_EQ(Pattern(9000), Content(source));

    // A cancel is told apart from a failure.
    auto cancel = [](DWORD, DWORD, DWORD, void*) -> DWORD { return ALTCOPY_CANCEL; };
    std::string dest = dir.File("cancelled.mdb");
    bool cancelled = false;
    EXPECT_FALSE(CopyOneFile(source.c_str(), dest.c_str(), cancel, &cancelled));
    EXPECT_TRUE(cancelled);
    EXPECT_EQ("<missing>", Content(dest));
    EXPECT_TRUE(CopyOneFile(source.c_str(), dest.c_str(), NULL, &cancelled));
    EXPECT_FALSE(cancelled) << "reset by the next copy";

    Put(dir.File("blocker"));
    EXPECT_FALSE(CopyFileCreatingFolders(source.c_str(), dir.File("blocker").c_str(), "x\\y.mdb", NULL));
    EXPECT_FALSE(CopyFileCreatingFolders(source.c_str(), dir.Path().c_str(), std::string(260, 'n').c_str(), NULL));
}

// These run elevated: a root, a relative path or a wildcard is refused before
// the shell is asked (and before the move's own tree copy lists anything).
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
    EXPECT_FALSE(MoveFolder("relative", dir.File("moved").c_str()));
    EXPECT_FALSE(CopyFolderContents(dir.File("relative").c_str(), "elsewhere"));
    SetCurrentDirectoryA(current);
    EXPECT_EQ("keep", Content(dir.File("relative\\keep.txt")));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(dir.File("elsewhere").c_str()));
    EXPECT_TRUE(log.Contains("DeleteFolderTree refused 'relative': not a full path"));

    // Roots on a drive and a server that do not exist: harmless if a refusal failed.
    const struct { const char* path; const char* reason; } rows[] = {
        {"", "empty path"},
        {"Q:\\", "root folder"},
        {"Q:\\fw\\..", "root folder"},
        {"\\\\nohost\\share", "root folder"},
        {"Q:", "not a full path"},
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
        EXPECT_FALSE(CopyFolderTree(row.path, dir.File("t").c_str(), NULL, NULL, NULL));
        EXPECT_TRUE(log.Contains(std::string("CopyFolderTree refused '") + row.path + "'"));
    }
    EXPECT_FALSE(DeleteFolderTree(NULL));
    EXPECT_FALSE(DeleteFolderTree(std::string(300, 'a').c_str()));
    EXPECT_FALSE(MoveFolder(dir.File("relative\\keep.txt").c_str(), dir.File("x").c_str())) << "a file is no folder";
    EXPECT_EQ("keep", Content(dir.File("relative\\keep.txt")));
}

// The move of an earlier installation decides by these whether a folder
// moved and whether one lies inside the other: spellings of one folder are
// one folder, a name that merely begins like another is not inside it.
TEST(FileUtil, FolderIdentity)
{
    TempDir dir("identity");
    const std::string folder = dir.File("Earlier Installation");
    Put(folder + "\\sub\\x.txt");
    char shortName[FW_PATH_SIZE] = "";
    ASSERT_NE(0u, GetShortPathNameA(folder.c_str(), shortName, sizeof(shortName)));
    ASSERT_NE(folder, shortName);
    std::string upper = folder;
    for (char& c : upper)
        c = (char)toupper((unsigned char)c);
    std::string doubled = folder;
    doubled.insert(doubled.rfind('\\'), "\\");
    const struct { std::string a, b; bool same, within; } rows[] = {
        {doubled, folder, true, true},
        {folder + "\\", folder, true, true},
        {folder + "\\.", folder, true, true},
        {shortName, folder, true, true},
        {upper, folder, true, true},
        {folder + "\\sub", shortName, false, true},
        {upper + "\\not yet\\made", folder, false, true},
        {folder + " 2", folder, false, false},
        {folder, folder + "\\sub", false, false},
    };
    for (const auto& row : rows)
    {
        SCOPED_TRACE(row.a + " | " + row.b);
        EXPECT_EQ(row.same, IsSameFolder(row.a.c_str(), row.b.c_str()));
        EXPECT_EQ(row.within, IsFolderWithin(row.a.c_str(), row.b.c_str()));
    }
}

// The move's copy: what the destination holds already is replaced unless the
// caller keeps it, and every way a file could stay uncopied is a failure (the
// move deletes the source after a successful copy).
TEST(FileUtil, CopyFolderTree)
{
    TempDir dir("tree");
    LogCapture log;
    const std::string from = dir.File("from"), to = dir.File("to");
    Put(from + "\\Bin\\own.dll", "earlier own");
    Put(from + "\\LU\\data.mdb", "current data");
    Put(to + "\\Bin\\own.dll", "package's own");
    Put(to + "\\LU\\data.mdb", "leftover data");
    auto keepOwn = [](const char* relative, const char*, const char*, void*) { return std::string(relative) == "Bin\\own.dll"; };
    DWORD error = 1;
    EXPECT_TRUE(CopyFolderTree(from.c_str(), to.c_str(), keepOwn, NULL, &error));
    EXPECT_EQ(0u, error);
    EXPECT_EQ("package's own", Content(to + "\\Bin\\own.dll"));
    EXPECT_EQ("current data", Content(to + "\\LU\\data.mdb"));

    // A subfolder no one may list, a destination that is the source file
    // under another name, a folder copied into itself.
    Put(from + "\\LU\\PSI\\held.mdb");
    HANDLE held = CreateFileA((from + "\\LU\\PSI").c_str(), GENERIC_READ, 0, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    EXPECT_FALSE(CopyFolderTree(from.c_str(), dir.File("copy").c_str(), NULL, NULL, &error));
    CloseHandle(held);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, error);
    EXPECT_TRUE(log.Contains("CopyFolderTree could not list '" + from + "\\LU\\PSI' [32]"));

    Put(dir.File("linked\\one\\a.mdb"), "only copy");
    ASSERT_TRUE(fwtest::MakeFolders(dir.File("linked\\two")));
    ASSERT_TRUE(CreateHardLinkA(dir.File("linked\\two\\a.mdb").c_str(), dir.File("linked\\one\\a.mdb").c_str(), NULL));
    EXPECT_FALSE(CopyFolderTree(dir.File("linked\\one").c_str(), dir.File("linked\\two").c_str(), NULL, NULL, &error));
    EXPECT_EQ((DWORD)ERROR_FILE_EXISTS, error);
    EXPECT_EQ("only copy", Content(dir.File("linked\\one\\a.mdb")));

    EXPECT_FALSE(CopyFolderTree(from.c_str(), (from + "\\LU\\inner").c_str(), NULL, NULL, &error));
    EXPECT_EQ((DWORD)ERROR_DIRECTORY, error);
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((from + "\\LU\\inner").c_str()));
}
