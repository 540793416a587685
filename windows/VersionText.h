// The version texts of the about box and its viewers, and the reader of the raw version
// resource. Portable: the Win32 side only loads the resource bytes and the program's path.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// Removes and returns the text's front part up to the first separator; the separator goes
// too. Without a separator the whole text is taken.
std::string NextToken(std::string& text, char separator);

// "V1.2c" for 1.2.3.x (release 1..26 as a letter), "V1.2.0" / "V2.1.27" otherwise; tokens
// that are no decimal integer count as 0.
std::string VersionStringOf(const std::string& fileVersion);

// The program file's name without folder and extension: "MVRServ" for C:\x\MVRServ.exe.
std::string ProgramBaseName(const std::string& programPath);

// The value stored after the first occurrence of key in a version resource image (UTF-16
// text): skip characters are passed over after the key (its terminator and the alignment
// gap), then everything up to the next zero character, as UTF-8. Empty when the key is
// missing or the image ends first.
std::string FindVersionValue(const std::vector<uint8_t>& image, const std::string& key, int skip);
