// resource.h: the resource ids that res/, ui/ and job/ share.
// Names end in what they stand for; winuser.h already owns IDC_ARROW, IDC_SIZE and the other
// cursor names, so control ids here never take one of those.
#pragma once

// Dialogs, menu, accelerators, icon
#define IDD_ABOUT 100
#define IDR_MAIN_MENU 102
#define IDR_ACCELERATORS 104
#define IDD_MAIN 105
#define IDI_TONFLUX 128

// Main dialog (105) controls
#define IDC_OMIT_STREAM_IDS 1000
#define IDC_USE_RUNNING_STATUS 1001
#define IDC_BUFFER_SIZE 1002
#define IDC_BUFFER_SIZE_SPIN 1003
#define IDC_RESTORE_DEFAULTS 1004

// About box (100) controls; 134 to 136 equal the string ids of their version keys
#define IDC_ABOUT_DESCRIPTION 134
#define IDC_ABOUT_COPYRIGHT 135
#define IDC_ABOUT_COMMENTS 136
#define IDC_ABOUT_EMAIL 1001
#define IDC_ABOUT_WEB 1002
#define IDC_ABOUT_SHOW_PROGRAM 1003
#define IDC_ABOUT_PROGRAM_PATH 1005

// Commands (menu 102, accelerators 104, the convert button)
#define IDM_EXIT 40002
#define IDM_CONVERT 40003
#define IDM_HELP_CONTENTS 40004
#define IDM_ABOUT 40005

// String table
#define IDS_UNEXPECTED_ERROR 1
#define IDS_NOT_SMF 2
#define IDS_ERROR_TITLE 3
#define IDS_OPEN_FILTER 4
#define IDS_SAVE_FILTER 5
#define IDS_BAD_BUFFER_SIZE 7
#define IDS_SYSEX_TOO_LARGE 8
#define IDS_WARNING_TITLE 9
#define IDS_CONTACT_EMAIL 10
#define IDS_CONTACT_WEB 11
#define IDS_OUTPUT_IS_INPUT 20
#define IDS_MIDI_SAVE_FILTER 21
// Why a MIDI stream file is refused, in tonflux-convert's words: RefusalTexts.rc, which
// tools/make-refusal-texts.py generates from its message table.
#define IDS_NOT_MDS 22
#define IDS_MDS_FAULTY 23
#define IDS_MDS_DELTA_TOO_LARGE 24
#define IDS_MDS_TEXT_TOO_LONG 25
#define IDS_MDS_FAULT_FIRST 32  // plus the value of an MdsFault
#define IDS_KEY_FILE_DESCRIPTION 134
#define IDS_KEY_LEGAL_COPYRIGHT 135
#define IDS_KEY_COMMENTS 136
#define IDS_CONFIRM_WEB 137
#define IDS_CONFIRM_TITLE 138
