// A window as a table: the form's frame, place and fonts, and its components, each with its
// name, kind, place, text and the names of the handlers it fires. The form layer
// (platform/Form.h) builds the window from it; a window adds only its handlers.
#pragma once
#include <vector>

enum class CompKind {
  Label,        // STATIC
  Panel,        // raised outer bevel, a border of `border` pixels, lowered inner bevel; both bevels
                // `extra` pixels wide
  Bevel,        // frame drawn around other components: etched, or raised with csRaised; a box with csBox
  ComboList,    // COMBOBOX, drop-down list; caption = rows separated by '\n', extra = rows shown
  Edit,         // EDIT, one line; extra = maximum length
  Memo,         // EDIT, many lines, read-only, word wrap; ref = its popup menu
  Grid,         // list view of rows and columns without headings; extra = row height
  Button,       // BUTTON with an optional picture drawn before the caption
  SpeedButton,  // small flat picture button
  Image,        // STATIC showing the icon `picture` (extra = its size, 16 unless given), or with
                // csBitmap the bitmap the window sets
  ToolBar,      // ToolbarWindow32; ref = the image list
  ToolButton,   // button of the tool bar named in ref; extra = image index
  ImageList,    // caption = icon resource ids separated by '\n'
  Timer,        // extra = interval in ms
  PopupMenu,    // onEvent = the handler run before it opens
  MenuItem,     // item of the popup menu named in ref; caption "-" is a separator
};

enum CompStyle : unsigned {
  csRight = 1u << 0,    // right-aligned text
  csHidden = 1u << 1,   // created invisible
  csDefault = 1u << 2,  // the default button (Enter)
  csCancel = 1u << 3,   // the cancel button (Esc)
  csFlat = 1u << 4,
  csCenter = 1u << 5,   // text centred between the sides
  csRaised = 1u << 6,   // a bevel that stands out instead of the etched line
  csBox = 1u << 7,      // a bevel as a box of single lines instead of a double frame
  csBitmap = 1u << 8,   // an image that shows a bitmap
  csClient = 1u << 9,   // fills the client area and follows its size
  csMiddle = 1u << 10,  // text centred between top and bottom
};

enum FontStyle : int { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

struct FontDef {
  const char* face;
  int height;     // character height in pixels
  int style = 0;  // FontStyle bits
};

// A component's row. The place and caption are given at once; the rest by name:
//   Comp("OKBtn", CompKind::Button, 136, 192, 73, 27, "OK").Style(csDefault).Picture(IDI_BTN_OK)
struct ComponentDef {
  const char* name;
  CompKind kind;
  int left = 0, top = 0, width = 0, height = 0;
  const char* caption = "";  // UTF-8
  int font = -1;             // index into the form's fonts; -1 = the form's font
  unsigned style = 0;
  int extra = 0;
  const char* hint = nullptr;
  const char* ref = nullptr;
  const char* onEvent = nullptr;  // Click / Change / Timer / Popup handler name
  const char* onKey = nullptr;    // key press handler name (edits)
  int picture = 0;                // icon resource id
  int modalResult = 0;            // set on the form when the button is clicked
  int border = 0;                 // panel: pixels between its bevels

  ComponentDef& Font(int index) { font = index; return *this; }
  ComponentDef& Style(unsigned bits) { style |= bits; return *this; }
  ComponentDef& Extra(int value) { extra = value; return *this; }
  ComponentDef& Hint(const char* text) { hint = text; return *this; }
  ComponentDef& In(const char* owner) { ref = owner; return *this; }
  ComponentDef& On(const char* handler) { onEvent = handler; return *this; }
  ComponentDef& OnKey(const char* handler) { onKey = handler; return *this; }
  ComponentDef& Picture(int id) { picture = id; return *this; }
  ComponentDef& Result(int result) { modalResult = result; return *this; }
  ComponentDef& Border(int pixels) { border = pixels; return *this; }
};

inline ComponentDef Comp(const char* name, CompKind kind, int left = 0, int top = 0, int width = 0,
                         int height = 0, const char* caption = "") {
  return ComponentDef{name, kind, left, top, width, height, caption};
}

// The frames the windows have.
enum class FormFrame {
  Main,     // single border, system menu and minimise box
  Dialog,   // dialog frame with the close box only
  Sizable,  // normal resizable window
};

struct FormDef {
  const wchar_t* className;
  const char* caption;  // UTF-8
  int clientWidth, clientHeight;
  FormFrame frame;
  int left, top;
  std::vector<FontDef> fonts;  // fonts[0] is the form's font
  std::vector<const char*> tabOrder = {};
  const char* focus = nullptr;  // control focused when shown
  bool escCloses = false;       // Esc closes the form like its close box
};
