// The port settings dialog: port, baud rate, data bits, parity, stop bits and, folded out,
// the queue sizes. It never opens or closes the port itself.
#pragma once
#include "platform/Form.h"
#include "serial/PortSetupUi.h"

class TSerialPort;

class TComDlgFm : public TForm {
 public:
  static constexpr int kFoldedHeight = 254;
  static constexpr int kUnfoldedHeight = 340;

  TComDlgFm();
  ~TComDlgFm() override;

  // Fills the dialog from the port and shows it modally; true when closed with OK.
  bool Execute(TSerialPort& port);
  // Copies the choices into the port's settings (the device is not touched).
  void GetSettings(TSerialPort& port);
  void ShowBufferSizes(bool show);

  bool SizesShown = false;

 private:
  void FormCreate();
  void FormDestroy();
  void SpeedSizeClick();
  void EditKeyPress(wchar_t& key);
  void EditInputChange();
  void EditOutputChange();
};

extern TComDlgFm* ComDlgFm;

// The engine's set-up loop bound to the dialog, the Yes/No question and the application's
// end.
class ComDlgSetupUi : public PortSetupUi {
 public:
  explicit ComDlgSetupUi(TComDlgFm& dialog) : dialog_(dialog) {}
  bool Execute(TSerialPort& port) override { return dialog_.Execute(port); }
  void GetSettings(TSerialPort& port) override { dialog_.GetSettings(port); }
  bool AskChooseAnother() override;
  void Terminate() override;
  bool Ending() const override;

 private:
  TComDlgFm& dialog_;
};
