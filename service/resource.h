// Resource ids of the service program (also read by the .rc files).
#pragma once

#define IDI_KESTRIN_SERVICE 1

// String table
#define IDS_DISPLAY_NAME 101
#define IDS_ATTACH_ERROR 102
#define IDS_BAD_WAIT_RESULT 103
#define IDS_UNMATCHED_SCROLL_HAT 111
#define IDS_CONNECT_PIPE_ERROR 112
#define IDS_CALL_FAILED 113
#define IDS_UNRECOGNIZED_OPCODE 115
#define IDS_PIPE_WRITE_SKIPPED 141
#define IDS_DESCRIPTION 151
#define IDS_MARKED_FOR_DELETE 153
#define IDS_SLOT_BEYOND_SECTION 161
