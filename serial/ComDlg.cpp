#include "serial/ComDlg.h"

#include <algorithm>

#include "platform/Application.h"
#include "platform/IntegerText.h"
#include "platform/MessageDlg.h"
#include "platform/ProgramFiles.h"
#include "platform/Text.h"
#include "platform/UiRules.h"
#include "resources/ui_ids.h"
#include "serial/SerialX.h"

TComDlgFm* ComDlgFm = nullptr;

namespace {

const char* const kSection = "ComDlgFm";

FormDef ComDlgForm() {
  return {L"TComDlgFm", "ComPortDialog", 217, 313, FormFrame::Dialog, 10, 10,
          {{"MS Sans Serif", 13, fsBold}},
          {"OKBtn", "CancelHelpBtn", "PortBox", "BaudrateBox", "DatabitsBox", "ParityBox", "StopbitsBox",
           "EditInput", "EditOutput"},
          "OKBtn"};
}

std::vector<ComponentDef> ComDlgComponents() {
  using K = CompKind;
  return {
      Comp("BevelMain", K::Bevel, 8, 8, 201, 169),
      Comp("PortLabel", K::Label, 56, 16, 41, 24, "Port:").Style(csRight),
      Comp("PortBox", K::ComboList, 104, 16, 89, 24, "Com1\nCom2\nCom3\nCom4").Extra(4),
      Comp("BaudrateLabel", K::Label, 24, 48, 73, 24, "Baudrate:"),
      Comp("BaudrateBox", K::ComboList, 104, 48, 89, 24,
           "110\n300\n600\n1200\n2400\n4800\n9600\n14400\n19200\n38400\n56000\n57600\n115200\n"
           "128000\n230400\n256000")
          .Extra(15),
      Comp("DatabitsLabel", K::Label, 24, 80, 73, 24, "Databits:"),
      Comp("DatabitsBox", K::ComboList, 104, 80, 89, 24, "4\n5\n6\n7\n8").Extra(8),
      Comp("ParityLabel", K::Label, 40, 112, 57, 24, "Parity:"),
      Comp("ParityBox", K::ComboList, 104, 112, 89, 24, "None\nOdd\nEven\nMark\nSpace").Extra(8),
      Comp("StopbitsLabel", K::Label, 24, 144, 73, 24, "Stopbits:"),
      Comp("StopbitsBox", K::ComboList, 104, 144, 89, 24, "1\n1½\n2").Extra(8),
      Comp("CancelHelpBtn", K::Button, 8, 192, 121, 27, "Abbrechen")
          .Style(csCancel)
          .Picture(IDI_BTN_CANCEL)
          .Result(mrCancel),
      Comp("OKBtn", K::Button, 136, 192, 73, 27, "OK").Style(csDefault).Picture(IDI_BTN_OK).Result(mrOk),
      Comp("SpeedSize", K::SpeedButton, 24, 16, 24, 24)
          .Picture(IDI_SPEED_SIZE)
          .Hint("Edit buffer sizes.")
          .On("SpeedSizeClick"),
      Comp("BevelSizes", K::Bevel, 8, 232, 201, 73),
      Comp("LabelInput", K::Label, 24, 240, 89, 24, "Inputbuffer:"),
      Comp("LabelOutput", K::Label, 24, 272, 89, 24, "Outputbuffer:"),
      Comp("EditInput", K::Edit, 120, 240, 73, 24, "1000").Extra(6).On("EditInputChange").OnKey("EditKeyPress"),
      Comp("EditOutput", K::Edit, 120, 272, 73, 24, "1000").Extra(6).On("EditOutputChange").OnKey("EditKeyPress"),
  };
}

// Read as text with the program's integer rules: GetPrivateProfileIntA takes "500x" for 500
// and "abc" for 0.
int ProfileInteger(const std::string& file, const char* key, int def) {
  char text[256] = {};
  GetPrivateProfileStringA(kSection, key, "", text, sizeof text, file.c_str());
  return ParseIntegerOr(text, def);
}

const char* const kSizeParts[] = {"BevelSizes", "LabelInput", "EditInput", "LabelOutput",
                                  "EditOutput"};

}  // namespace

TComDlgFm::TComDlgFm() : TForm(ComDlgForm(), ComDlgComponents()) {
  Bind("FormCreate", [this] { FormCreate(); });
  Bind("FormDestroy", [this] { FormDestroy(); });
  Bind("SpeedSizeClick", [this] { SpeedSizeClick(); });
  BindKey("EditKeyPress", [this](wchar_t& k) { EditKeyPress(k); });
  Bind("EditInputChange", [this] { EditInputChange(); });
  Bind("EditOutputChange", [this] { EditOutputChange(); });
}

TComDlgFm::~TComDlgFm() { Destroy(); }

void TComDlgFm::FormCreate() {
  const std::string file = ProgramProfileFile();
  const RECT r = Bounds();
  const int w = r.right - r.left;
  const int h = r.bottom - r.top;
  const int left = ProfileInteger(file, "Left", 10);
  const int top = ProfileInteger(file, "Top", 10);
  SetPosition(ClampOnScreen(left, w, GetSystemMetrics(SM_CXSCREEN)),
              ClampOnScreen(top, h, GetSystemMetrics(SM_CYSCREEN)));
  SizesShown = true;
}

void TComDlgFm::FormDestroy() {
  const std::string file = ProgramProfileFile();
  const RECT r = Bounds();
  const std::pair<const char*, long> values[] = {{"Left", r.left}, {"Top", r.top}};
  for (const auto& v : values) {
    if (!WritePrivateProfileStringA(kSection, v.first, std::to_string(v.second).c_str(),
                                    file.c_str())) {
      MessageDlg("nach " + AnsiToUtf8(file) + " kann nicht geschrieben werden", MsgDlgType::Error, mbOK);
      return;
    }
  }
}

bool TComDlgFm::Execute(TSerialPort& port) {
  SetItemIndex("PortBox", port.Port);
  SetItemIndex("BaudrateBox", port.BaudRate);
  SetItemIndex("DatabitsBox", port.DataBits);
  SetItemIndex("ParityBox", port.Parity);
  SetItemIndex("StopbitsBox", port.StopBits);
  for (const char* box : {"PortBox", "BaudrateBox", "DatabitsBox", "ParityBox", "StopbitsBox"})
    SetEnabled(box, true);
  SetText("EditInput", std::to_string(port.InSize));
  SetText("EditOutput", std::to_string(port.OutSize));
  SetVisible("SpeedSize", true);
  ShowBufferSizes(false);
  return ShowModal() == mrOk;
}

void TComDlgFm::GetSettings(TSerialPort& port) {
  auto row = [this](const char* box) { return static_cast<uint8_t>(std::max(0, ItemIndex(box))); };
  port.SetPort(row("PortBox"));
  port.SetBaudRate(row("BaudrateBox"));
  port.SetDataBits(row("DatabitsBox"));
  port.SetParity(row("ParityBox"));
  port.SetStopBits(row("StopbitsBox"));
  port.InSize = SizeFieldValue(Text("EditInput"), 10000);
  port.OutSize = SizeFieldValue(Text("EditOutput"), 1000);
}

void TComDlgFm::ShowBufferSizes(bool show) {
  if (show == SizesShown) return;
  SizesShown = show;
  if (show) {
    SetHeight(kUnfoldedHeight);
    const RECT r = Bounds();
    SetPosition(r.left, TopAfterUnfold(r.top, kUnfoldedHeight, GetSystemMetrics(SM_CYSCREEN)));
    for (const char* name : kSizeParts) SetVisible(name, true);
  } else {
    for (const char* name : kSizeParts) SetVisible(name, false);
    SetHeight(kFoldedHeight);
  }
}

void TComDlgFm::SpeedSizeClick() { ShowBufferSizes(!SizesShown); }

void TComDlgFm::EditKeyPress(wchar_t& key) {
  if (!SizeFieldKeyPasses(key)) key = 0;
}

void TComDlgFm::EditInputChange() {
  SetText("EditInput", SizeFieldText(Text("EditInput"), 10000, 10));
}

void TComDlgFm::EditOutputChange() {
  SetText("EditOutput", SizeFieldText(Text("EditOutput"), 1000, 5));
}

bool ComDlgSetupUi::AskChooseAnother() {
  return MessageDlg("Der COM-Port konnte nicht geöffnet werden\rMöchten Sie einen Anderen wählen?",
                    MsgDlgType::Information, mbYes | mbNo) == mrYes;
}

void ComDlgSetupUi::Terminate() { Application.RequestEnd(); }

bool ComDlgSetupUi::Ending() const { return Application.Terminated; }
