// Every resource and control id of the program, in one place.
// Kept free of C++ so that the resource compiler can read it too.
#ifndef SORVANE_RESOURCE_H
#define SORVANE_RESOURCE_H

// Dialog templates and the icon.
#define IDD_SETTINGS 101
#define IDI_APP 102
#define IDD_PROGRESS 103
#define IDD_PASSWORD 104
#define IDD_ABOUT 106
// The tray icon while new mail waits, and after a failed check.
#define IDI_NEW_MAIL 107
#define IDI_CHECK_FAILED 108

// Tray menu commands.
#define CMD_CHECK_NOW 1000
#define CMD_SETTINGS 1001
#define CMD_HELP 1002
#define CMD_ABOUT 1003
#define CMD_EXIT 1004

// Dialog controls. IDC_OK_BUTTON and IDC_CANCEL_BUTTON mean the same in
// every dialog that has them; IDC_PASSWORD is the password state box of the
// settings dialog and the password box of the password dialog.
#define IDC_USER 1000
#define IDC_PASSWORD 1001
#define IDC_MAIL_LAUNCH 1002
#define IDC_MAIL_PATH 1003
#define IDC_MAIL_BROWSE 1004
#define IDC_OK_SOUND 1005
#define IDC_OK_SOUND_PATH 1006
#define IDC_OK_SOUND_BROWSE 1007
#define IDC_OK_MESSAGE 1008
#define IDC_SERVER 1009
#define IDC_NO_MESSAGE 1010
#define IDC_NO_SOUND_BROWSE 1011
#define IDC_HELP_BUTTON 1012
#define IDC_APPLY_AND_CHECK 1013
#define IDC_CANCEL_BUTTON 1014
#define IDC_OK_BUTTON 1015
#define IDC_NO_SOUND_PATH 1016
#define IDC_STATUS_STEP 1017
#define IDC_STATUS_DETAIL 1018
#define IDC_CHANGE_PASSWORD 1020
#define IDC_MAIL_ASK 1022
#define IDC_AUTO_CHECK 1023
#define IDC_AUTO_CHECK_TIME 1024
#define IDC_NO_SOUND 1025
#define IDC_SHOW_PROGRESS 1026
#define IDC_OK_SOUND_PLAY 1027
#define IDC_NO_SOUND_PLAY 1028
#define IDC_SOUND_STOP 1029
#define IDC_UNSEEN_ONLY 1030
#define IDC_SHOW_HEADERS 1031
#define IDC_NOTIFY_BALLOON 1032
#define IDC_QUIET_OFFLINE 1033
#define IDC_START_WITH_WINDOWS 1034
#define IDC_CREDENTIAL_STORE 1035
// The account row of the settings dialog.
#define IDC_ACCOUNT 1040
#define IDC_ACCOUNT_ADD 1041
#define IDC_ACCOUNT_REMOVE 1042

#endif
