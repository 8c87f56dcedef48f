// The release engineer's checksum tool: writes, or with --verify checks, the
// [CheckSums] entries of every file of a distribution folder in the
// program's own checksum form, and the [SHA256] entries of its programs and
// packages (the installers that the setup program may fetch and run, and the
// product's Windows Installer packages). See Usage below.
//
// The settings file keeps its encoding (UTF-16 with FF FE, or ANSI), its line
// ends and every line other than the entries written; a new entry is added
// after the section's last entry. Lines end as the setup program ends them:
// at LF, or at a CR alone. The digests live in a table of sections so that
// another section of digests can stand beside [CheckSums]. Nothing is written
// unless the setup program itself reads back every entry of the new text.

#include <windows.h>

#include <stdio.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "CResource.h"
#include "CheckSum.h"
#include "Sha256.h"
#include "TextUtil.h"

namespace
{
const char USAGE[] =
    "Usage: fwchecksums [--verify] <distribution folder> [settings file]\n"
    "\n"
    "Writes the [CheckSums] entry of every file below the distribution folder\n"
    "(the settings file excepted), keyed by its path relative to the folder, as\n"
    "eight hexadecimal digits of the checksum the setup program verifies, and\n"
    "the [SHA256] entry of every program (.exe) and package (.msi) below it:\n"
    "the digest that lets the setup program run an installer or install a\n"
    "product package it downloaded (the section is added\n"
    "after [CheckSums] when the settings file has none).\n"
    "Existing entries are updated in place (blanks before their \"=\" removed, as\n"
    "the setup program finds no entry written so), missing ones added at the end\n"
    "of the section; every other line, the encoding and the line ends stay as\n"
    "they are. The file is replaced only when the setup program reads back every\n"
    "entry from the new text; otherwise it is left as it was.\n"
    "The settings file defaults to Zaph.ini in the distribution folder.\n"
    "\n"
    "  --verify   change nothing; report every file whose entry is missing or\n"
    "             differs, as the setup program would read it\n"
    "\n"
    "Exit code: 0 done (or all entries right), 1 entries missing or wrong\n"
    "(--verify), or entries the setup program would not read (nothing written:\n"
    "for instance a path of 80 characters or more, which it never looks up),\n"
    "2 bad arguments or a file that cannot be read or written.\n";

const int EXIT_OK = 0;
const int EXIT_DIFFERENT = 1;
const int EXIT_FAILED = 2;

struct DeliveredFile
{
    std::string relative; // key: path below the folder, backslashes
    std::string full;
};

// A section of digests: its header, how a file's digest text is made, how
// the setup program reads an entry back (null: it does not), which files it
// lists (null: all), and the section after which it is made when missing
// (null: it must exist).
struct DigestSection
{
    const char* header;
    bool (*digest)(const char* path, std::string& text);
    const char* (*programLookup)(CResource& settings, const char* key);
    bool (*lists)(const std::string& relative);
    const char* after;
};

bool CheckSumText(const char* path, std::string& text)
{
    char out[CHECKSUM_TEXT_SIZE];
    if (!CheckSum::Compute(path, out))
        return false;
    text = out;
    return true;
}

const char* ProgramCheckSum(CResource& settings, const char* key)
{
    return settings.GetCheckSum(key);
}

bool Sha256FileText(const char* path, std::string& text)
{
    char out[SHA256_TEXT_SIZE];
    if (Sha256OfFile(path, out) == SHA256_FAILED)
        return false;
    text = out;
    return true;
}

const char* ProgramDigest(CResource& settings, const char* key)
{
    return settings.GetDigest(key);
}

// What the setup program runs or hands to the Windows Installer.
bool IsProgram(const std::string& relative)
{
    const char* end = relative.size() > 4 ? relative.c_str() + relative.size() - 4 : "";
    return _stricmp(end, ".exe") == 0 || _stricmp(end, ".msi") == 0;
}

const DigestSection SECTIONS[] = {
    {"[CheckSums]", CheckSumText, ProgramCheckSum, NULL, NULL},
    {"[SHA256]", Sha256FileText, ProgramDigest, IsProgram, "[CheckSums]"},
};

bool ListFiles(const std::string& folder, const std::string& relative, const std::string& skip,
               std::vector<DeliveredFile>& files)
{
    WIN32_FIND_DATAA data;
    const std::string base = relative.empty() ? folder : folder + "\\" + relative;
    HANDLE find = FindFirstFileA((base + "\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_NOT_FOUND;
    bool ok = true;
    do
    {
        const std::string name = data.cFileName;
        if (name == "." || name == "..")
            continue;
        const std::string rel = relative.empty() ? name : relative + "\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            ok = ListFiles(folder, rel, skip, files) && ok;
        else if (!TextEqualNoCase((base + "\\" + name).c_str(), skip.c_str()))
            files.push_back({rel, base + "\\" + name});
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return ok;
}

template <typename Ch> bool IsBlank(Ch c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

template <typename Ch> Ch Fold(Ch c)
{
    return c >= 'a' && c <= 'z' ? (Ch)(c - 'a' + 'A') : c;
}

template <typename Ch> bool SameNoCase(const std::basic_string<Ch>& a, const std::basic_string<Ch>& b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i]))
            return false;
    return true;
}

template <typename Ch> size_t FindNoCase(const std::basic_string<Ch>& text, const std::basic_string<Ch>& what)
{
    for (size_t i = 0; i + what.size() <= text.size(); ++i)
        if (SameNoCase(text.substr(i, what.size()), what))
            return i;
    return std::basic_string<Ch>::npos;
}

template <typename Ch> std::basic_string<Ch> Widen(const std::string& text);
template <> std::string Widen<char>(const std::string& text)
{
    return text;
}
template <> std::wstring Widen<wchar_t>(const std::string& text)
{
    std::wstring out(text.size() + 1, L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &out[0], (int)out.size());
    out.resize(n > 0 ? n - 1 : 0);
    return out;
}

// The text as the setup program splits it into lines: a CR alone ends a line
// as LF does. Same length, so that positions in it are positions in the text.
template <typename Ch> std::basic_string<Ch> LinesOf(const std::basic_string<Ch>& text)
{
    std::basic_string<Ch> lines = text;
    for (size_t i = 0; i < lines.size(); ++i)
        if (lines[i] == '\r' && (i + 1 == lines.size() || lines[i + 1] != '\n'))
            lines[i] = '\n';
    return lines;
}

// The line end that new lines get: the file's own.
template <typename Ch> std::basic_string<Ch> LineEndOf(const std::basic_string<Ch>& text)
{
    if (text.find(Widen<Ch>("\r\n")) != std::basic_string<Ch>::npos)
        return Widen<Ch>("\r\n");
    return LinesOf(text) != text ? Widen<Ch>("\r") : Widen<Ch>("\n");
}

// One entry line of the section: its key, where the blanks after the key
// begin (the setup program finds no key followed by blanks) and where its
// value stands in the text.
template <typename Ch> struct Entry
{
    std::basic_string<Ch> key;
    size_t keyEnd, equals, valueStart, valueEnd;
};

// Puts an empty section right after the body of another; its position, or
// npos when that other one is missing too.
template <typename Ch>
size_t MakeSectionAfter(std::basic_string<Ch>& text, const std::basic_string<Ch>& header,
                        const std::basic_string<Ch>& after)
{
    typedef std::basic_string<Ch> Str;
    const Str lines = LinesOf(text);
    const size_t at = FindNoCase(lines, after);
    if (at == Str::npos)
        return Str::npos;
    const Str lineEnd = LineEndOf(text);
    size_t end = lines.find(Widen<Ch>("\n["), at + after.size());
    Str inserted = header + lineEnd;
    if (end == Str::npos)
    {
        end = text.size();
        if (end > 0 && lines[end - 1] != '\n')
            inserted = lineEnd + inserted;
    }
    else
    {
        end += 1;
    }
    text.insert(end, inserted);
    return end + (inserted.size() - header.size() - lineEnd.size());
}

// Writes or checks one section in text; counts what it did.
template <typename Ch>
bool ProcessSection(std::basic_string<Ch>& text, const DigestSection& section,
                    const std::vector<DeliveredFile>& files, const std::vector<std::string>& digests, bool verify,
                    int& differences, std::vector<std::string>& report)
{
    typedef std::basic_string<Ch> Str;
    const Str header = Widen<Ch>(section.header);
    size_t at = FindNoCase(LinesOf(text), header);
    if (at == Str::npos && section.after != NULL)
        at = MakeSectionAfter(text, header, Widen<Ch>(section.after));
    if (at == Str::npos)
    {
        fprintf(stderr, "error: the settings file has no %s section\n", section.header);
        return false;
    }
    // Every search below runs on the lines as the setup program splits them;
    // the edits go into the text itself.
    const Str lines = LinesOf(text);
    const Str lineEnd = LineEndOf(text);
    const size_t bodyStart = at + header.size();
    size_t bodyEnd = lines.find(Widen<Ch>("\n["), bodyStart);
    bodyEnd = bodyEnd == Str::npos ? lines.size() : bodyEnd + 1;

    // The entries, and the end of the last line with text (new entries go there).
    std::vector<Entry<Ch>> entries;
    // Without any entry, new ones follow the header's line.
    const size_t headerLineEnd = lines.find((Ch)'\n', bodyStart);
    bool lastHasLineEnd = headerLineEnd != Str::npos && headerLineEnd < bodyEnd;
    size_t insertAt = lastHasLineEnd ? headerLineEnd + 1 : bodyEnd, lineStart = bodyStart;
    while (lineStart < bodyEnd)
    {
        size_t lf = lines.find((Ch)'\n', lineStart);
        const size_t lineStop = (lf == Str::npos || lf >= bodyEnd) ? bodyEnd : lf;
        size_t p = lineStart;
        while (p < lineStop && IsBlank(lines[p]))
            ++p;
        if (p < lineStop)
        {
            insertAt = lineStop < bodyEnd && lineStop < lines.size() ? lineStop + 1 : lineStop;
            lastHasLineEnd = lineStop < lines.size() && lines[lineStop] == '\n';
            const size_t eq = lines.find((Ch)'=', p);
            if (eq != Str::npos && eq < lineStop)
            {
                size_t keyEnd = eq;
                while (keyEnd > p && IsBlank(lines[keyEnd - 1]))
                    --keyEnd;
                size_t valueStart = eq + 1, valueEnd = lineStop;
                while (valueStart < valueEnd && IsBlank(lines[valueStart]))
                    ++valueStart;
                while (valueEnd > valueStart && IsBlank(lines[valueEnd - 1]))
                    --valueEnd;
                entries.push_back({text.substr(p, keyEnd - p), keyEnd, eq, valueStart, valueEnd});
            }
        }
        lineStart = lineStop + 1;
    }

    // Edits are applied from the end of the text so that earlier positions hold.
    struct Edit
    {
        size_t start, end;
        Str replacement;
    };
    std::vector<Edit> edits;
    Str added;
    for (size_t i = 0; i < files.size(); ++i)
    {
        const Str key = Widen<Ch>(files[i].relative);
        const Str digest = Widen<Ch>(digests[i]);
        const Entry<Ch>* entry = NULL;
        for (const Entry<Ch>& e : entries)
            if (SameNoCase(e.key, key))
            {
                entry = &e;
                break;
            }
        const char* state = "ok";
        if (entry == NULL)
        {
            state = verify ? "MISSING" : "added";
            added += key + Widen<Ch>("=") + digest + lineEnd;
            ++differences;
        }
        else
        {
            const bool sameValue =
                SameNoCase(text.substr(entry->valueStart, entry->valueEnd - entry->valueStart), digest);
            if (!sameValue || entry->keyEnd != entry->equals)
            {
                state = verify ? "DIFFERS" : "updated";
                if (!sameValue)
                    edits.push_back({entry->valueStart, entry->valueEnd, digest});
                if (entry->keyEnd != entry->equals)
                    edits.push_back({entry->keyEnd, entry->equals, Str()});
                ++differences;
            }
        }
        char line[1024];
        _snprintf(line, sizeof(line), "%-8s %s=%s", state, files[i].relative.c_str(), digests[i].c_str());
        line[sizeof(line) - 1] = 0;
        report.push_back(line);
    }
    if (verify)
        return true;
    if (!added.empty())
        edits.push_back({insertAt, insertAt, (lastHasLineEnd ? Str() : lineEnd) + added});
    std::sort(edits.begin(), edits.end(), [](const Edit& a, const Edit& b) { return a.start > b.start; });
    for (const Edit& e : edits)
        text.replace(e.start, e.end - e.start, e.replacement);
    return true;
}

bool ReadAll(const std::string& path, std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const DWORD size = GetFileSize(file, NULL);
    bytes.assign(size, '\0');
    DWORD got = 0;
    const bool ok = size == INVALID_FILE_SIZE ? false : (size == 0 || ReadFile(file, &bytes[0], size, &got, NULL)) && got == size;
    CloseHandle(file);
    return ok;
}

// The new text is written beside the file, read back from there and only
// then moved over it: a failed write or a bad text loses nothing.
bool WriteAll(const std::string& path, const std::string& bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL) && written == bytes.size();
    ok = CloseHandle(file) && ok;
    if (!ok)
        DeleteFileA(path.c_str());
    return ok;
}

// The files of one section of digests and their digest texts.
struct SectionFiles
{
    const DigestSection* section;
    std::vector<DeliveredFile> files;
    std::vector<std::string> digests;
};

// What the setup program itself reads from the settings file: an entry it
// cannot find (a name too long for its keys, an entry it never reaches) is
// as bad as a missing one. The number of files whose entry it does not read
// as written.
int UnreadEntries(const std::string& settingsPath, const std::vector<SectionFiles>& sections)
{
    CResource settings;
    if (!settings.Load(settingsPath.c_str()))
    {
        printf("UNREAD   the setup program cannot load the settings file\n");
        return 1;
    }
    int unread = 0;
    for (const SectionFiles& s : sections)
        for (size_t i = 0; i < s.files.size(); ++i)
        {
            const std::string& key = s.files[i].relative;
            const char* read = s.section->programLookup(settings, key.c_str());
            if (read != NULL && _stricmp(read, s.digests[i].c_str()) == 0)
                continue;
            if (Widen<wchar_t>(key).size() > (size_t)MAX_KEY_LENGTH)
                printf("UNREAD   %s (a name of %u characters: the setup program reads names of at most %d)\n",
                       key.c_str(), (unsigned)Widen<wchar_t>(key).size(), MAX_KEY_LENGTH);
            else
                printf("UNREAD   %s (the setup program reads '%s')\n", key.c_str(), read ? read : "");
            ++unread;
        }
    return unread;
}

std::string FullPath(const char* path)
{
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(path, MAX_PATH, full, NULL);
    return n > 0 && n < MAX_PATH ? std::string(full) : std::string();
}
} // namespace

int main(int argc, char** argv)
{
    bool verify = false;
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
    {
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "/?") == 0)
        {
            fputs(USAGE, stdout);
            return EXIT_OK;
        }
        if (strcmp(argv[i], "--verify") == 0)
            verify = true;
        else
            args.push_back(argv[i]);
    }
    if (args.empty() || args.size() > 2)
    {
        fputs(USAGE, stderr);
        return EXIT_FAILED;
    }
    std::string folder = FullPath(args[0].c_str());
    while (folder.size() > 3 && (folder.back() == '\\' || folder.back() == '/'))
        folder.pop_back();
    const std::string settingsPath = FullPath(args.size() > 1 ? args[1].c_str() : (folder + "\\Zaph.ini").c_str());
    if (folder.empty() || !(GetFileAttributesA(folder.c_str()) & FILE_ATTRIBUTE_DIRECTORY) ||
        GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES)
    {
        fprintf(stderr, "error: '%s' is not a folder\n", args[0].c_str());
        return EXIT_FAILED;
    }
    std::string bytes;
    if (settingsPath.empty() || !ReadAll(settingsPath, bytes))
    {
        fprintf(stderr, "error: cannot read the settings file '%s'\n", settingsPath.c_str());
        return EXIT_FAILED;
    }

    std::vector<DeliveredFile> allFiles;
    if (!ListFiles(folder, "", settingsPath, allFiles))
    {
        fprintf(stderr, "error: cannot list every file below '%s'\n", folder.c_str());
        return EXIT_FAILED;
    }
    std::sort(allFiles.begin(), allFiles.end(), [](const DeliveredFile& a, const DeliveredFile& b) {
        return _stricmp(a.relative.c_str(), b.relative.c_str()) < 0;
    });

    const bool utf16 = bytes.size() >= 2 && (unsigned char)bytes[0] == 0xFF && (unsigned char)bytes[1] == 0xFE;
    if (utf16 && bytes.size() % 2 != 0)
    {
        fprintf(stderr, "error: '%s' is not whole UTF-16 text\n", settingsPath.c_str());
        return EXIT_FAILED;
    }
    std::wstring wide;
    if (utf16)
        wide.assign((const wchar_t*)(bytes.data() + 2), (bytes.size() - 2) / 2);

    int differences = 0;
    std::vector<SectionFiles> sections;
    std::vector<std::string> report;
    for (const DigestSection& section : SECTIONS)
    {
        SectionFiles listed = {&section, {}, {}};
        for (const DeliveredFile& f : allFiles)
            if (section.lists == NULL || section.lists(f.relative))
                listed.files.push_back(f);
        if (listed.files.empty() && section.after != NULL)
            continue; // an optional section with nothing to list is not made
        for (const DeliveredFile& f : listed.files)
        {
            std::string text;
            if (!section.digest(f.full.c_str(), text))
            {
                fprintf(stderr, "error: cannot read '%s'\n", f.full.c_str());
                return EXIT_FAILED;
            }
            listed.digests.push_back(text);
        }
        const bool ok =
            utf16 ? ProcessSection(wide, section, listed.files, listed.digests, verify, differences, report)
                  : ProcessSection(bytes, section, listed.files, listed.digests, verify, differences, report);
        if (!ok)
            return EXIT_FAILED;
        if (section.programLookup != NULL)
            sections.push_back(listed);
    }

    if (verify)
    {
        for (const std::string& line : report)
            printf("%s\n", line.c_str());
        differences += UnreadEntries(settingsPath, sections);
        return differences == 0 ? EXIT_OK : EXIT_DIFFERENT;
    }
    const std::string temporary = settingsPath + ".new";
    if (differences != 0)
    {
        if (utf16)
            bytes = std::string("\xFF\xFE", 2) +
                    std::string((const char*)wide.data(), wide.size() * sizeof(wchar_t));
        if (!WriteAll(temporary, bytes))
        {
            fprintf(stderr, "error: cannot write '%s'\n", temporary.c_str());
            return EXIT_FAILED;
        }
    }
    // Before anything is called updated: the setup program must read every
    // entry of the text as it now stands.
    if (UnreadEntries(differences != 0 ? temporary : settingsPath, sections) != 0)
    {
        if (differences != 0)
            DeleteFileA(temporary.c_str());
        fprintf(stderr, "error: the setup program would not read every entry of '%s'; %s\n",
                settingsPath.c_str(), differences != 0 ? "it is left as it was" : "nothing to change there");
        return EXIT_DIFFERENT;
    }
    if (differences != 0 && !MoveFileExA(temporary.c_str(), settingsPath.c_str(), MOVEFILE_REPLACE_EXISTING))
    {
        DeleteFileA(temporary.c_str());
        fprintf(stderr, "error: cannot write '%s'\n", settingsPath.c_str());
        return EXIT_FAILED;
    }
    for (const std::string& line : report)
        printf("%s\n", line.c_str());
    return EXIT_OK;
}
