// Resource, control and command identifiers shared by the .rc files and the shell.
#pragma once

// Icons and bitmap
#define IDI_APP 128       // two monitors side by side (class icon, About)
#define IDI_APP_SMALL 136 // small class icon
#define IDI_SIGNAL_1 130  // one bar of four
#define IDI_SIGNAL_2 131
#define IDI_SIGNAL_3 132
#define IDI_SIGNAL_4 133
#define IDI_SIGNAL_0 134  // four grey bars
#define IDI_NO_WWAN 135   // grey arcs over a red disk with a white cross
#define IDI_UNPLUGGED 139 // blue plug pulled apart
#define IDB_NETWORK 137   // two computers joined to a network junction

// Dialog templates
#define IDD_CONFIG 138
#define IDD_ABOUT 1004
#define IDD_STATUS 140
#define IDD_PAGE_GENERAL 141
#define IDD_PAGE_WIFI 142
#define IDD_PAGE_HISTORY 143

// Configuration dialog
#define IDC_IPADDRESS 1000
#define IDC_PORT 1001
#define IDC_USERNAME 1002
#define IDC_PASSWORD 1004
// About dialog
#define IDC_ABOUT_ICON 1007

// Status window
#define IDC_STATUS_TAB 1010
#define IDC_FIRMWARE_VERSION 1011
#define IDC_IMEI 1012
#define IDC_MODEM_ID 1013
#define IDC_WWAN_IP 1014
#define IDC_SIGNAL_QUALITY 1015
#define IDC_UPTIME 1016
#define IDC_NETWORK_TYPE 1017
#define IDC_ACTIVITY_GROUP 1018
#define IDC_DATA_SENT 1019
#define IDC_DATA_RECEIVED 1020
#define IDC_DATA_TOTAL 1021
#define IDC_LATITUDE 1022
#define IDC_LONGITUDE 1023
#define IDC_LAT_HEMISPHERE 1024
#define IDC_LON_HEMISPHERE 1025
#define IDC_SPEED 1026
#define IDC_ODOMETER 1027
#define IDC_VIEW_LOCATION 1028
#define IDC_WIFI_MODE 1029
#define IDC_AP_SSID 1030
#define IDC_AP_MAC 1031
#define IDC_CELL_HARDWARE 1032
#define IDC_WIFI_HARDWARE 1033
#define IDC_PRIORITY 1034
#define IDC_TX_POWER 1035
#define IDC_LINK_QUALITY 1036
#define IDC_RX_POWER 1037
#define IDC_NOISE_LEVEL 1038
#define IDC_WIFI_IP 1039
// History page: ids of its own, apart from the first two pages'
#define IDC_HISTORY_GRAPH 1101
#define IDC_HISTORY_EVENTS 1102
#define IDC_HISTORY_COPY 1103

// Tray menu commands
#define IDM_EXIT 3000
#define IDM_STATUS 4000
#define IDM_ABOUT 5000
#define IDM_CONFIG 6000
#define IDM_TELNET 7000
#define IDM_POWERCYCLE 8000
#define IDM_LOGFILE 9000
#define IDM_NOTIFY_LINK_LOSS 9100
#define IDM_START_AT_LOGON 9200

// Tray icon
#define TRAY_ICON_ID 2000
#define TRAY_CALLBACK_MESSAGE 5
