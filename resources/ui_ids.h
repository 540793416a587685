// Resource numbers of the windows' pictures (resources/ui.rc).
#pragma once
// The application icon: the first icon group, so Explorer, the taskbar and every caption show it.
#define IDI_APP 1
#define IDI_TNA 201
#define IDI_TOOL_SETUP 202
#define IDI_TOOL_INFO 203
#define IDI_BTN_OK 204
#define IDI_BTN_CANCEL 205
#define IDI_SPEED_SIZE 206
// The about box's logo, a JPEG picture (RCDATA) decoded with libjpeg.
#define IDR_LOGO 210
