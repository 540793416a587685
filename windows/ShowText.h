// The text viewer: any text shown modally in a read-only text box, with a popup menu for
// font, word wrap, background colour and copying. Its look is kept in the profile file under
// the viewer's unique name, read at creation and written at destruction unless it showed a
// text.
#pragma once
#include <string>

#include "platform/Form.h"
#include "windows/ViewerRules.h"

class TTextFm : public TForm {
 public:
  TTextFm();
  ~TTextFm() override;

  // Shows the text (UTF-8; lines end with CR LF, CR or LF) modally under the caption.
  void ShowText(const std::string& caption, const std::string& text);

  // The component name, which is the profile section: "TextFm", "TextFm_1", ...
  const std::string& Name() const { return name_; }
  const ViewerSettings& Settings() const { return s_; }

 private:
  void FormCreate();
  void FormDestroy();
  void PopMenuPopup();
  void PopFontClick();
  void PopWrapClick();
  void PopColorClick();
  void PopCopyClick();
  void ApplyFont();
  void ApplyColors();

  std::string name_;
  ViewerSettings s_;
  bool ShowingText = false;
};
