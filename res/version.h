// The program's own version, shown by /v and written to the log.
#pragma once

#define FW_VERSION_NUMBERS      6,2,0,31
#define FW_VERSION_TEXT         "6.2.0.31"
#define FW_COMPANY              "Fernwick Systems"
#define FW_PRODUCT              "ZAPH Setup and Upgrade Tool"
#define FW_COMMENTS             "MORV_TELA Setup and Upgrade Tool"
#define FW_COPYRIGHT            "Copyright (C) 2003-2026 Fernwick Systems"
