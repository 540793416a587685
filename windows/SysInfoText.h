// The system information window's texts and rows, without the window system: the Win32
// side gathers the facts, these functions format them and order the rows.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// "Windows NT 5.0 (Build 2195: Service Pack 4)", "Windows 95 4.10 (Build 2222)",
// "Windows3 1.0" for a platform id other than 1 (95 family) and 2 (NT family).
std::string WindowsVersionText(uint32_t platformId, uint32_t major, uint32_t minor, uint32_t build,
                               const std::string& servicePack);

// A byte count in megabytes with three decimals and the user's decimal separator, at least
// five characters: "256,000MB".
std::string MegabytesText(uint32_t bytes, const std::string& decimalSeparator);

struct SysFacts {
  std::string Title, ProgramPath, FileVersion, Holder, Author;
  std::string Computer, User, Windows, OS;
  uint32_t MemoryLoad = 0;
  uint32_t TotalPhys = 0, AvailPhys = 0, TotalPage = 0, AvailPage = 0, TotalVirtual = 0, AvailVirtual = 0;
  std::string DecimalSeparator = ".";
  std::string WindowsDir, SystemDir;
  int ScreenWidth = 0, ScreenHeight = 0, PixelsPerInch = 0, BitsPerPixel = 0;
};

struct InfoRow {
  std::string Name, Value;  // UTF-8; an empty value makes the row a heading
};

// The rows in the window's order; the "Autor" row only when there is an author.
std::vector<InfoRow> SysInfoRows(const SysFacts& f);

// The grid's filling rule: rows are written from the top at every filling and the grid only
// grows, so a second filling overwrites the same rows.
class GridFill {
 public:
  explicit GridFill(int designRows) : rowCount_(designRows) {}
  void Start() { NextRow = 0; }
  // True when the grid had to grow by one row for this one.
  bool AddRow() {
    const bool grow = rowCount_ == NextRow;
    if (grow) ++rowCount_;
    ++NextRow;
    return grow;
  }
  int RowCount() const { return rowCount_; }
  int NextRow = 0;

 private:
  int rowCount_;
};
