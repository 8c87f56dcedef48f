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

// The check before an obtained installer runs: true when it may run;
// otherwise the user sees why in an error box and the caller ends the step as
// a failed one (code ERROR_INVALID_IMAGE_HASH, 577). Uses the run's window and
// settings; the source's kind follows from the base of the run.
bool VerifyObtainedInstaller(const char* sourceName, const char* localPath, DWORD& code);

// The signer's name of a file whose Authenticode signature is valid and
// chains to a trusted root; false (and an empty name) otherwise, with the
// system's verdict in status (0 when the signature itself was valid).
bool SignedBy(const char* path, char* signer, size_t signerSize, LONG& status);

#endif
