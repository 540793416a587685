// What the engine's interactive set-up loop needs from the user interface: the port
// settings dialog, the retry question and the request to end the program.
#pragma once

class TSerialPort;

class PortSetupUi {
 public:
  virtual ~PortSetupUi() = default;
  // Fills the dialog from the port and shows it modally; true when closed with OK.
  virtual bool Execute(TSerialPort& port) = 0;
  // Copies the dialog's choices into the port's settings.
  virtual void GetSettings(TSerialPort& port) = 0;
  // "Der COM-Port konnte nicht geöffnet werden\rMöchten Sie einen Anderen wählen?" — Yes/No.
  virtual bool AskChooseAnother() = 0;
  // Asks the application to end as the main window's close does; the user may still keep it.
  virtual void Terminate() = 0;
  // The program is ending: the loop must not show the dialog again.
  virtual bool Ending() const = 0;
};
