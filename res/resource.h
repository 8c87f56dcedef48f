// Resource identifiers shared by the program and its resource script.
#pragma once

#define IDI_FERNWICK            99
#define IDS_CAPTION             11
#define IDS_USAGE               35
#define IDS_VERSION_INFO        36

#define IDD_PROGRESS            1101
#define IDD_LOGWINDOW           1074
#define IDB_LOGO                1072

// Controls of the progress window (dialog 1101).
#define IDC_LOGO                101
#define IDC_BAR0                104
#define IDC_INFO_TEXT           105
#define IDC_HEADING             106
#define IDC_BAR1                107
#define IDC_STATUS_LOWER        108
#define IDC_STATUS_UPPER        109
#define IDC_PROCEED             1106
#define IDC_BAND                1109
#define IDC_BAND_LINE           1110
#define IDC_BRANDING_LINE       1111
#define IDC_BRANDING            1112
#define IDC_PERCENT             1114
#define IDC_LANGUAGE_FIRST      6000
#define IDC_LANGUAGE_LAST       6023
// Pseudo-id of the window's caption for CMainUI::SetItemText.
#define IDC_CAPTION             11

// Controls of the log window (dialog 1074).
#define IDC_LOG_EDIT            105
#define IDC_LOG_CONSOLE         1113
#define IDC_LOG_TEXT            1115
#define IDC_LOG_LOGO            1118
#define IDC_LOG_STATUS          1119
