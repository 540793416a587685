// The program's message dialog: German caption by kind and German button texts, whatever
// the system's language. Every box of the program goes through it.
#pragma once
#include <string>

enum class MsgDlgType { Warning, Error, Information, Confirmation };

enum MsgDlgButton : unsigned {
  mbYes = 1u << 0,
  mbNo = 1u << 1,
  mbOK = 1u << 2,
  mbCancel = 1u << 3,
  mbAbort = 1u << 4,
};

enum ModalResult : int { mrNone = 0, mrOk = 1, mrCancel = 2, mrAbort = 3, mrYes = 6, mrNo = 7 };

// Shows a modal box (UTF-8 text) and returns the button pressed. defaultButton is one of
// the MsgDlgButton values, 0 for the first.
int MessageDlg(const std::string& text, MsgDlgType type, unsigned buttons,
               unsigned defaultButton = 0, const std::string& caption = "");
