#pragma once

// Resource and control ids of the main window (template 102) and its pictures.
constexpr int IDM_ABOUTBOX = 0x0010;  // command of the About item in the window's menu
constexpr int IDM_LIVEPLOT = 0x0020;  // command of the Live plot item in the window's menu
constexpr int IDR_MAINFRAME = 128;    // application icon
constexpr int IDI_PORT_CLOSED = 151;  // white disc
constexpr int IDI_PORT_OPEN = 152;    // red disc
constexpr int IDB_BACKDROP = 148;
constexpr int IDB_LOGO = 176;
constexpr int IDB_CALIBRATION = 177;

// Commands of the window menu's Compass swing and Declination from position items.
constexpr int IDM_SWING = 0x0030;
constexpr int IDM_DECLINATION = 0x0040;
// Command of the window menu's Find module item.
constexpr int IDM_FINDMODULE = 0x0050;
// Commands of the window menu's Ports and Reopen when the adapter returns items.
constexpr int IDM_PORTS = 0x0060;
constexpr int IDM_REOPEN = 0x0070;

constexpr int IDC_COMBO_PORT = 1000;
constexpr int IDC_COMBO_BAUD = 1001;
constexpr int IDC_EDIT_NEW_ADDRESS = 1002;
constexpr int IDC_BTN_OPENCOM = 1003;
constexpr int IDC_STATIC_COM = 1007;
constexpr int IDC_STATIC_BAUDRATE = 1008;
constexpr int IDC_STATIC_ADDRESS = 1009;
constexpr int IDC_EDIT_RECEIVED = 1010;
constexpr int IDC_BTN_SETZERO = 1011;
constexpr int IDC_BTN_CANCELZERO = 1012;
constexpr int IDC_BTN_SETADDR = 1013;
constexpr int IDC_BTN_RECORD = 1017;
constexpr int IDC_EDIT_RATE = 1023;
constexpr int IDC_EDIT_SEND = 1026;
constexpr int IDC_COMBO_MODULE_BAUD = 1029;
constexpr int IDC_BTN_SET_BAUD = 1030;
constexpr int IDC_EDIT_ADDRESS = 1031;
constexpr int IDC_STATIC_PORT_STATE = 1036;
constexpr int IDC_BTN_AUTOOUT = 1037;
constexpr int IDC_BTN_HORIZON = 1038;
constexpr int IDC_BTN_CATECHISM = 1039;
constexpr int IDC_BTN_CLEAR_SEND = 1040;
constexpr int IDC_BTN_CLEAR_RECEIVED = 1041;
constexpr int IDC_BTN_VERTICAL = 1042;
constexpr int IDC_STATIC_ROLL = 1053;
constexpr int IDC_STATIC_PITCH = 1054;
constexpr int IDC_STATIC_HEADING = 1055;
constexpr int IDC_BTN_CAL_START = 1057;
constexpr int IDC_BTN_MMODE = 1058;
constexpr int IDC_STATIC_SAMPLES = 1060;
constexpr int IDC_STATIC_CALIBRATION = 1062;
constexpr int IDC_BTN_GOSTOP = 1063;
constexpr int IDC_BTN_CAL_SAVE = 1064;
constexpr int IDC_STATIC_X = 1065;
constexpr int IDC_STATIC_Y = 1066;
constexpr int IDC_STATIC_Z = 1067;
constexpr int IDC_STATIC_SAMPLE_LABEL = 1068;
constexpr int IDC_STATIC_RESULT = 1069;
constexpr int IDC_BTN_BROWSE = 1070;
constexpr int IDC_STATIC_HEAD_LABEL = 1071;
constexpr int IDC_STATIC_PITCH_LABEL = 1072;
constexpr int IDC_STATIC_ROLL_LABEL = 1073;
constexpr int IDC_EDIT_DECLINATION = 1074;
constexpr int IDC_BTN_SETMAG = 1075;
constexpr int IDC_BTN_MANUAL = 1077;
constexpr int IDC_BTN_AMODE = 1078;
constexpr int IDC_BTN_CAL_STOP = 1079;
