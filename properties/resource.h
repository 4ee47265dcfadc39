// Resource ids of KestrinProperties.exe and its satellite libraries.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_KESTRINPROPERTIES_DIALOG 102
#define IDS_COLUMN_ID 102
#define IDS_COLUMN_SERIAL 103
#define IDS_COLUMN_FIRMWARE 104
#define IDR_MAINFRAME 128
#define IDB_VIEW 130
#define IDR_TASKLINKS 141

#define IDC_DEFAULTS 3
#define IDC_TEST_AUTOZERO 4
#define IDC_DEVICE_LIST 1000
#define IDC_PAN 1001
#define IDC_ZOOM 1002
#define IDC_SPIN 1003
#define IDC_SCROLL_HAT 1004
#define IDC_VIEW3D 1006
#define IDC_VIEW2D 1008
#define IDC_RADIO_PANY_SPINY 1010
#define IDC_RADIO_ZOOM_SPINZ 1011
#define IDC_TOPVIEW 1014

// The About item of the system menu.
#define IDM_ABOUTBOX 0x0010
