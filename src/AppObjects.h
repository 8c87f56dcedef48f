// The four long-lived objects of a run. MainSequence owns them; these pointers
// give the rest of the program access and are null outside MainSequence.
#pragma once

#include <windows.h>

class CMainUI;
class CResource;
class CDownloadManager;
class CMSI;

extern HINSTANCE g_hInstance;
extern CMainUI* g_mainUI;
extern CResource* g_resource;
extern CDownloadManager* g_downloadManager;
extern CMSI* g_msi;
