// Control, dialog, string and image identifiers of the program.
#pragma once

// Dialog templates
#define IDD_ABOUTBOX            100
#define IDD_KESTREL_DIALOG      102
#define IDD_EDIT_CONFIG         129

// Strings
#define IDS_ABOUTBOX            101
#define IDP_SOCKETS_INIT_FAILED 103

// Images
#define IDB_LOGO                134
#define IDR_MAINFRAME           135
#define IDI_WINDOW              138

// System-menu command of the About entry
#define IDM_ABOUTBOX            0x0010

// Standard buttons
#define IDOK                    1
#define IDCANCEL                2
#define IDC_STATIC              (-1)

// Main window
#define IDC_EDT_STATUS          1000
#define IDC_EDT_BUSY            1001
#define IDC_BTN_SEEK            1002
#define IDC_BTN_EDIT_CONFIG     1005
#define IDC_BTN_STOP            1006
#define IDC_EDT_CONFIG          1008
#define IDC_EDT_TIMEOUT         1009
#define IDC_LST_DEVICE          1030

// Edit Config form
#define IDC_EDT_DEV_NAME        1003
#define IDC_EDT_ROM_VER         1004
#define IDC_EDT_MAC_ADDR        1007
#define IDC_EDT_PRNT_PORT       1016
#define IDC_EDT_PRNT_RCV_TMO    1017
#define IDC_EDT_MANUFACTURER    1018
#define IDC_EDT_HOST_NAME       1019
#define IDC_EDT_SERIAL_NUM      1020
#define IDC_CMB_LINE_SPEED      1021
#define IDC_CMB_DHCP            1022
#define IDC_IP_ADDR             1024
#define IDC_IP_SUBNET           1025
#define IDC_IP_GATEWAY          1026
#define IDC_IP_DFLT             1027
