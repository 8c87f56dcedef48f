#include "AppObjects.h"

HINSTANCE g_hInstance = NULL;
CMainUI* g_mainUI = NULL;
CResource* g_resource = NULL;
CDownloadManager* g_downloadManager = NULL;
CMSI* g_msi = NULL;
