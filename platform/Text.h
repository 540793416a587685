// Sources keep user-visible texts in UTF-8; the Win32 build shows them through the wide API
// so that "ü" and "ö" come out right whatever the ANSI code page.
#pragma once
#include <string>

std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);
// Text in the system's ANSI code page (such as FormatMessageA's) as UTF-8.
std::string AnsiToUtf8(const std::string& text);
