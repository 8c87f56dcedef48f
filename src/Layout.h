// A layout: one run fetches, into a folder of the administrator's choice,
// every file that an installation of the settings file's member state could
// need, verifies each as it arrives, and writes the settings file and the
// LOCAL marker beside them. Every machine then installs from that folder in
// LOCAL mode, without a network. A second layout into the same folder checks
// what is there first and fetches only what is missing, changed or damaged.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

class CResource;
struct SequenceLocals;

// What the layout keeps beside the files: the checksum each had when it
// arrived, and the settings file's, so that a file [CheckSums] lists no
// checksum for is still known damaged or belonging to another release.
extern const char* const LAYOUT_RECORD_FILE;    // "_FW_LAYOUT_.txt"
// A file is written under its name and this suffix until it is verified.
extern const char* const LAYOUT_PARTIAL_SUFFIX; // ".fwlayout"

// How a planned file is verified.
enum LayoutKind
{
    LAYOUT_DATA,      // a data file or product package: its [CheckSums] entry and its digest when listed
    LAYOUT_INSTALLER  // a prerequisite or engine installer: as before it runs (digest, else signature)
};

struct LayoutFile
{
    std::string source;    // below the base, as a LOCAL run asks for it
    LayoutKind kind;
    std::string checkSum;  // of [CheckSums]; empty when none is listed
};

// Every file that an installation of the settings' member state could need,
// each once: the product package of every language the settings have labels
// for (or of those the command line's /s names), the files of every data line of [Components] and [Additional] for
// each of those languages (every branch of the existence rules, since which
// one a machine takes depends on what it holds), and the prerequisite and
// engine installers the settings offer. Reads the settings alone (and sets
// the edition of RunState from them, as the first phase does).
std::vector<LayoutFile> PlanLayout(CResource& settings);

// The command line's /o: the folder of the layout (made a full path).
// CMDLINE_OK, or the usage box and CMDLINE_BAD_ARGUMENT without a folder.
int TakeLayoutFolder(const char* value);
bool IsLayoutRun();
const char* GetLayoutFolder();
// Forgets /o (a new run).
void ResetLayout();

// The layout run: the settings file, the window and the base (the first
// phases of a setup), then every planned file, the settings file, the
// program and the marker. 0 complete, 1223 cancelled, otherwise the code of
// the file that failed; the user has been told.
long RunLayout(SequenceLocals& locals);
