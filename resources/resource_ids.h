// Ids of the string table, shared by the resource script and the code.
#pragma once

#define IDS_LAUNCH_FAILED 104
#define IDS_INFO_OPEN_FAILED 106
#define IDS_ALREADY_INSTALLED 107
#define IDS_PRODUCT_IN_USE 108
