// Resource ids of the framework's tests.
#pragma once
#define IDD_TEST 200
#define IDD_SATELLITE_ONLY 201
#define IDD_HIDDEN 202
#define IDC_BUTTON 1001
#define IDC_VIEW 1002
#define IDS_BOTH 300
#define IDS_PROGRAM_ONLY 301
#define IDS_SATELLITE_ONLY 302
