// Installers fetched from the network run with administrator rights, so none
// runs unless it is what the release meant: either its digest matches the one
// the settings file lists for it ([SHA256], written by the release tool beside
// [CheckSums]), or, when none is listed, it carries a valid Authenticode
// signature of the expected publisher. A listed digest decides on its own: a
// validly signed but different installer (an older one, say) is refused.
//
// Files from the distribution folder itself (LOCAL mode, a folder base) run as
// they always did; only a digest listed for them is checked, since a listed
// digest that does not match means the medium is not what was released.
#ifndef FERNWICK_INSTALLERTRUST_H
#define FERNWICK_INSTALLERTRUST_H

#include <windows.h>

class CResource;
class CMainUI;

// The publisher that signs every installer the program fetches.
extern const char* const INSTALLER_PUBLISHER;
// The publisher that signs the product's own package.
extern const char* const PACKAGE_PUBLISHER;

enum InstallerVerdict
{
    INSTALLER_REFUSED = 0,
    INSTALLER_DIGEST_MATCHES = 1,  // the listed digest matches
    INSTALLER_SIGNED = 2,          // valid signature of the expected publisher
    INSTALLER_LOCAL = 3            // from the distribution folder, no digest listed
};

// Judges an obtained installer without telling the user: sourceName is its
// name in the settings file (the key of its digest), localPath the obtained
// file, fromNetwork whether it was downloaded. Logs what it found.
InstallerVerdict JudgeInstaller(CResource* settings, const char* sourceName, const char* localPath,
                                bool fromNetwork, const char* publisher = INSTALLER_PUBLISHER);

// A downloaded installer is judged and run from a copy of its own, never
// from the Internet cache, which every unelevated program of the user may
// write: between the check and the start such a program could swap the file.
// The copy lies in a fresh folder that only administrators and the system
// may write (its access list is not inherited), and it is held open so that
// nobody may write or rename it until the object goes; the folder goes with
// it. A file from the distribution folder is judged where it lies.
class CVerifiedInstaller
{
public:
    CVerifiedInstaller();
    virtual ~CVerifiedInstaller();   // the protected folder is removed

    // Judges the obtained file (sourceName as in the settings file, localPath
    // as obtained; publisher: who must have signed it) and, for a download,
    // first copies it into the protected folder. Tells the user nothing. True
    // when it may run: Path() then names the file to start. False with code
    // ERROR_INVALID_IMAGE_HASH (577) for a refused file, else the system's
    // reason the copy could not be made.
    bool Take(const char* sourceName, const char* localPath, DWORD& code,
              const char* publisher = INSTALLER_PUBLISHER);
    const char* Path() const { return m_szPath; }
    // The protected folder ("" for a file judged in place, or before Take).
    const char* Folder() const { return m_szFolder; }
    // Lets go of the copy and removes the folder (also done when destroyed).
    void Release();

private:
    CVerifiedInstaller(const CVerifiedInstaller&);
    CVerifiedInstaller& operator=(const CVerifiedInstaller&);
    bool CopyToProtectedFolder(const char* sourceName, const char* localPath, DWORD& code);

    char m_szFolder[MAX_PATH];
    char m_szPath[MAX_PATH];
    HANDLE m_hFolder;   // keeps the folder from being renamed or removed
    HANDLE m_hFile;     // keeps the copy from being written
};

// The access list of a protected folder and of what is made in it: the
// system and the administrators may do anything, the users only read and
// run; nothing of the parent folder's list is inherited.
class CProtectedAccess
{
public:
    CProtectedAccess();
    virtual ~CProtectedAccess();
    bool IsReady() const { return m_bReady; }   // false: the system could not make it
    SECURITY_ATTRIBUTES* Attributes() { return &m_attributes; }

private:
    CProtectedAccess(const CProtectedAccess&);
    CProtectedAccess& operator=(const CProtectedAccess&);
    PSID m_system;
    PSID m_admins;
    PSID m_users;
    BYTE m_acl[256];
    SECURITY_DESCRIPTOR m_descriptor;
    SECURITY_ATTRIBUTES m_attributes;
    bool m_bReady;
};

// Makes a folder that nobody but administrators and the system may write
// (on the NT family; an ordinary folder on Windows 9x, which has no access
// lists). Fails when it exists already: a folder someone else made is never
// taken for ours.
bool CreateProtectedFolder(const char* path, DWORD& code);

// Whether an obtained installer file is from the network (it is not from the
// distribution folder), from the base of the run.
bool IsDownloadedSource(const char* sourceName);

// The check before an obtained installer runs: true when it may run, from
// installer.Path(); otherwise the user sees why in an error box and the
// caller ends the step as a failed one (code ERROR_INVALID_IMAGE_HASH, 577,
// or the reason its protected copy could not be made). Uses the run's window
// and settings; the source's kind follows from the base of the run.
bool VerifyObtainedInstaller(const char* sourceName, const char* localPath, CVerifiedInstaller& installer,
                             DWORD& code);

// Loads the system's signature libraries from the system folder, once. Done
// before a download that is to be checked: the system's secure channel asks
// for one of them (crypt32) by name, and the first https download of a run
// must find it loaded from the system folder, never a copy beside the program.
void LoadTrustLibraries();

// The signer's name of a file whose Authenticode signature is valid and
// chains to a trusted root; false (and an empty name) otherwise, with the
// system's verdict in status (0 when the signature itself was valid).
bool SignedBy(const char* path, char* signer, size_t signerSize, LONG& status);

#endif
