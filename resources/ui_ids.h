// Resource numbers of the windows' pictures (resources/ui.rc).
#pragma once
#define IDI_TNA 201
#define IDI_TOOL_SETUP 202
#define IDI_TOOL_INFO 203
#define IDI_BTN_OK 204
#define IDI_BTN_CANCEL 205
#define IDI_SPEED_SIZE 206
