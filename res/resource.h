// Resource identifiers shared by the program and its resource script.
#pragma once

#define IDI_FERNWICK            99
#define IDS_CAPTION             11
#define IDS_USAGE               35
#define IDS_VERSION_INFO        36

#define IDD_PROGRESS            1101
#define IDD_LOGWINDOW           1074
#define IDB_LOGO                1072
