// Inside the form layer: what a built component holds, and the helpers its files share.
#pragma once
#include <windows.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/FormTable.h"
#include "platform/Owned.h"

// A name held as a window property: a global atom under prop, removed with the tag.
class NameTag {
 public:
  NameTag(HWND hwnd, const std::string& name, std::wstring prop = L"MVRName");
  ~NameTag();
  NameTag(const NameTag&) = delete;
  NameTag& operator=(const NameTag&) = delete;

 private:
  HWND hwnd_;
  std::wstring prop_;
  OwnedAtom atom_;
};

struct FormPart {
  const ComponentDef* def = nullptr;
  UINT id = 0;
  HWND hwnd = nullptr;
  std::unique_ptr<NameTag> tag;
  OwnedIcon picture;
  OwnedImageList images;
  OwnedMenu menu;
  std::wstring hint;
  bool hintShown = false;
  bool wrap = true;          // memo: word wrap
  bool colored = false;      // own text and background colours
  COLORREF text = 0, back = 0;
  OwnedBrush backBrush;
};

namespace form_detail {

constexpr UINT kFirstId = 100;

// The forms that exist now, by window.
std::set<HWND>& LiveForms();
// A handler's error, shown; whatever called the handler goes on.
void ShowHandlerError(const std::string& text);
// "a\nb" -> {"a", "b"}
std::vector<std::string> SplitLines(const char* text);

}  // namespace form_detail
