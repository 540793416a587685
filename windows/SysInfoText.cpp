#include "windows/SysInfoText.h"

#include <cstdio>

std::string WindowsVersionText(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t build,
                               const std::string& servicePack) {
  char buf[512];
  if (platformId != 1 && platformId != 2) {
    std::snprintf(buf, sizeof buf, "Windows%u %u.%u", platformId, major, minor);
    return buf;
  }
  const char* name = platformId == 1 ? "Windows 95" : "Windows NT";
  // The 95 family keeps its version in the build number's high word.
  const uint32_t number = platformId == 1 ? (build & 0xFFFF) : build;
  if (servicePack.empty())
    std::snprintf(buf, sizeof buf, "%s %u.%u (Build %u)", name, major, minor, number);
  else
    std::snprintf(buf, sizeof buf, "%s %u.%u (Build %u: %s)", name, major, minor, number,
                  servicePack.c_str());
  return buf;
}

std::string MegabytesText(uint32_t bytes, const std::string& decimalSeparator) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%5.3f", bytes / 1048576.0);
  std::string s = buf;
  const auto dot = s.find('.');
  if (dot != std::string::npos) s.replace(dot, 1, decimalSeparator);
  return s + "MB";
}

std::vector<InfoRow> SysInfoRows(const SysFacts& f) {
  std::vector<InfoRow> rows;
  auto add = [&](const char* name, std::string value) { rows.push_back({name, std::move(value)}); };
  auto mb = [&](uint32_t v) { return MegabytesText(v, f.DecimalSeparator); };
  add("Name", f.Title);
  add("Programm", f.ProgramPath);
  add("Version", f.FileVersion);
  add("Copyright", f.Holder);
  if (!f.Author.empty()) add("Autor", f.Author);
  add("Computer", "");
  add("Bezeichnung", f.Computer);
  add("Benutzer", f.User);
  add("System", f.Windows);
  add("OS", f.OS);
  add("Speicher", "");
  add("Auslastung", std::to_string(f.MemoryLoad) + "%");
  add("Total Phys.", mb(f.TotalPhys));
  add("Frei Phys.", mb(f.AvailPhys));
  add("Total Page", mb(f.TotalPage));
  add("Frei Page", mb(f.AvailPage));
  add("Total Virtual", mb(f.TotalVirtual));
  add("Frei Virtual", mb(f.AvailVirtual));
  add("Windows Directory", f.WindowsDir);
  add("System Directory", f.SystemDir);
  add("Bildschirm", "");
  add("Auflösung", std::to_string(f.ScreenWidth) + "×" + std::to_string(f.ScreenHeight));
  add("PixelPerInch", std::to_string(f.PixelsPerInch));
  add("Farben", std::to_string(f.BitsPerPixel) + "Bit");
  return rows;
}
