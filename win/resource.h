// Resource and control IDs of irdload.exe: the dialog templates' own (the main dialog 102, the
// About box 100, icon 128, string 101 and the About command 16), and the texts this program adds
// to them, each in English and Russian.
#pragma once

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_MAIN 102
#define IDR_MAINFRAME 128
#define IDM_ABOUTBOX 0x0010
#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDC_PORT_LIST 1000
#define IDC_RECEIVE 1001
#define IDC_SEND 1002
#define IDC_OPEN 1003
#define IDC_FILE_LABEL 1004
#define IDC_PROGRESS 1005
#define IDC_FILE_NAMES 1006
#define IDC_BYTES_SENT 1007
#define IDC_ELAPSED 1008
#define IDC_CANCEL 1009
#define IDC_STATUS 1010
#define IDC_PACKET_NUMBER 1011
#define IDC_RETRY_COUNT 1012
#define IDC_LAST_REPLY 1013
#define IDC_TOTAL_SIZE 1014
#define IDC_ESTIMATE 1016
#define IDC_ESTIMATE_LABEL 1017

// Texts new to this program, in the string tables of both languages.
#define IDS_END_QUESTION 2001
#define IDS_END_PROGRESS 2002
#define IDS_PORT_NOT_OPENED 2003
#define IDS_PORT_MAKER 2004
#define IDS_PORT_PRODUCT 2005
#define IDS_PORT_SERIAL 2006
#define IDS_PORT_DRIVER 2007
#define IDS_VIRTUAL_IRD_DETAILS 2008
#define IDS_PORT_CLASSIC 2009
