// Sources keep user-visible texts in UTF-8; the Win32 build shows them through the wide API
// so that "ü" and "ö" come out right whatever the ANSI code page.
#pragma once
#include <string>

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
// Text in the system's ANSI code page (such as FormatMessageA's) as UTF-8.
std::string AnsiToUtf8(const std::string& text);
// UTF-8 as text in the system's ANSI code page, for the few ANSI records (the tray tip).
std::string Utf8ToAnsi(const std::string& text);
// The system's text for a Win32 error number or HRESULT, without the line end; empty when
// the system has none.
std::string SystemErrorText(unsigned long code);
