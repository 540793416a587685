#include "serial/ComDlg.h"

#include <algorithm>

#include "platform/Application.h"
#include "platform/IntegerText.h"
#include "platform/MessageDlg.h"
#include "platform/UiRules.h"
#include "resources/ui_ids.h"
#include "serial/SerialX.h"

TComDlgFm* ComDlgFm = nullptr;

namespace {

const char* const kSection = "ComDlgFm";

FormDef ComDlgForm() {
  FormDef f;
  f.className = L"TComDlgFm";
  f.caption = "ComPortDialog";
  f.clientWidth = 217;
  f.clientHeight = 313;
  f.style = WS_POPUP | WS_CAPTION | WS_SYSMENU;
  f.exStyle = WS_EX_DLGMODALFRAME;
  f.left = 10;
  f.top = 10;
  f.fonts = {{"MS Sans Serif", 13, true}};
  f.tabOrder = {"OKBtn",       "CancelHelpBtn", "PortBox",   "BaudrateBox", "DatabitsBox",
                "ParityBox",   "StopbitsBox",   "EditInput", "EditOutput"};
  f.focus = "OKBtn";
  return f;
}

std::vector<ComponentDef> ComDlgComponents() {
  using K = CompKind;
  std::vector<ComponentDef> c;
  auto add = [&](ComponentDef d) { c.push_back(d); };
  add({"BevelMain", K::Bevel, 8, 8, 201, 169, ""});
  add({"PortLabel", K::Label, 56, 16, 41, 24, "Port:", -1, csRight});
  add({"PortBox", K::ComboList, 104, 16, 89, 24, "Com1\nCom2\nCom3\nCom4", -1, 0, 4});
  add({"BaudrateLabel", K::Label, 24, 48, 73, 24, "Baudrate:"});
  add({"BaudrateBox", K::ComboList, 104, 48, 89, 24,
       "110\n300\n600\n1200\n2400\n4800\n9600\n14400\n19200\n38400\n56000\n57600\n115200\n"
       "128000\n230400\n256000",
       -1, 0, 15});
  add({"DatabitsLabel", K::Label, 24, 80, 73, 24, "Databits:"});
  add({"DatabitsBox", K::ComboList, 104, 80, 89, 24, "4\n5\n6\n7\n8", -1, 0, 8});
  add({"ParityLabel", K::Label, 40, 112, 57, 24, "Parity:"});
  add({"ParityBox", K::ComboList, 104, 112, 89, 24, "None\nOdd\nEven\nMark\nSpace", -1, 0, 8});
  add({"StopbitsLabel", K::Label, 24, 144, 73, 24, "Stopbits:"});
  add({"StopbitsBox", K::ComboList, 104, 144, 89, 24, "1\n1½\n2", -1, 0, 8});
  ComponentDef cancel{"CancelHelpBtn", K::Button, 8, 192, 121, 27, "Abbrechen", -1, csCancel};
  cancel.picture = IDI_BTN_CANCEL;
  cancel.modalResult = mrCancel;
  add(cancel);
  ComponentDef ok{"OKBtn", K::Button, 136, 192, 73, 27, "OK", -1, csDefault};
  ok.picture = IDI_BTN_OK;
  ok.modalResult = mrOk;
  add(ok);
  ComponentDef speed{"SpeedSize", K::SpeedButton, 24, 16, 24, 24, ""};
  speed.picture = IDI_SPEED_SIZE;
  speed.hint = "Edit buffer sizes.";
  speed.onEvent = "SpeedSizeClick";
  add(speed);
  add({"BevelSizes", K::Bevel, 8, 232, 201, 73, ""});
  add({"LabelInput", K::Label, 24, 240, 89, 24, "Inputbuffer:"});
  add({"LabelOutput", K::Label, 24, 272, 89, 24, "Outputbuffer:"});
  ComponentDef in{"EditInput", K::Edit, 120, 240, 73, 24, "1000", -1, 0, 6};
  in.onEvent = "EditInputChange";
  in.onKey = "EditKeyPress";
  add(in);
  ComponentDef out{"EditOutput", K::Edit, 120, 272, 73, 24, "1000", -1, 0, 6};
  out.onEvent = "EditOutputChange";
  out.onKey = "EditKeyPress";
  add(out);
  return c;
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

std::string ProgramProfileFile() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return ProfileFileName(path);
}

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
      MessageDlg("nach " + file + " kann nicht geschrieben werden", MsgDlgType::Error, mbOK);
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
