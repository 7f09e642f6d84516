// The service actions of the host's settings dialog and the device test: GetAdditionalActions lists
// the actions, DoAdditionalAction runs one by name, DeviceTest runs the printer's self-test. Each
// opens the device itself when the host has not, so they work before the till is ever opened.
// ResetPrinter and PrintDuplicate are the steps the actions are built from; SetLocale only notes
// the host's language.
#include <tinyxml.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "device/bringup.h"
#include "device/reports.h"
#include "device/result_codes.h"
#include "device/status.h"
#include "device/text_field.h"
#include "driver/com_text.h"
#include "driver/mirel_driver.h"

namespace {

// The document the actions table is built into: a declaration and the empty root.
constexpr const char kActionsTemplate[] = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?><Actions></Actions>";

constexpr const char kRestart[] = "Restart";
constexpr const char kSetCurrentDateTime[] = "SetCurrentDateTime";
constexpr const char kPrintLastDocDouble[] = "PrintLastDocDouble";

struct Action {
  const char* name;
  const char* caption;
  const char* notDone;  // logged when the device cannot be opened for it
};

// In the order the host shows them.
constexpr Action kActions[] = {
    {kRestart, "Перезапустить ККТ", "Restart do not"},
    {kSetCurrentDateTime, "Установить текущие дату и время в ККТ", "Set current date and time do not"},
    {kPrintLastDocDouble, "Напечатать дубликат последнего фискального документа", "Print duplicate do not"},
};

// The printers that keep a copy of their last document to print again.
constexpr int32_t kDuplicateMajor = 5;

// The description DeviceTest gives after a successful self-test.
constexpr const char kTestPassed[] = "Тест выполнен";

// The table printed with TinyXML's printer; empty when the document cannot be built.
std::string BuildActionsTable() {
  TiXmlDocument doc;
  doc.Parse(kActionsTemplate, nullptr, TIXML_ENCODING_UTF8);
  TiXmlElement* root = doc.RootElement();
  if (doc.Error() || !root) return {};
  for (const Action& a : kActions) {
    TiXmlElement* element = root->LinkEndChild(new TiXmlElement("Action"))->ToElement();
    element->SetAttribute("Name", a.name);
    element->SetAttribute("Caption", a.caption);
  }
  TiXmlPrinter printer;
  doc.Accept(&printer);
  return printer.CStr();
}

}  // namespace

bool CMirelDriver::GetAdditionalActions(BSTR* pbstrTableActions) {
  static const char kName[] = "GetAdditionalActions";
  LogEnterH(kName);
  if (!pbstrTableActions) {
    LogReturnH(kName, "0");
    return false;
  }
  *pbstrTableActions = Utf8ToBstr(BuildActionsTable().c_str());
  LogReturnH(kName, "1");
  return true;
}

// Open into an identifier of the caller's own: the action or test uses the device without the host
// having opened it.
bool CMirelDriver::OpenPrivately(char* szDeviceID, size_t nSize) {
  BSTR bstrDeviceID = nullptr;
  const bool opened = Open(&bstrDeviceID);
  CopyText(szDeviceID, nSize, BstrToCp1251(bstrDeviceID).c_str());
  SysFreeString(bstrDeviceID);
  return opened;
}

void CMirelDriver::CloseKeepingCodes(const char* szDeviceID) {
  const SavedResult saved = SaveResult();
  Close(szDeviceID);
  RestoreResult(saved);
}

bool CMirelDriver::DoAdditionalAction(const char* szActionName) {
  static const char kName[] = "OdinS_DoAdditionalAction";
  LogEnterH(kName);
  const char* name = szActionName ? szActionName : "";
  LogMessageH("ActionName", name);
  // The names are compared exactly as the table gives them, case included.
  const Action* action = nullptr;
  for (const Action& a : kActions) {
    if (std::strcmp(name, a.name) == 0) action = &a;
  }
  if (!action) {
    m_pDevice->nLastResult = kCodeWrongValue;
    LogMessageH("Name", "Unknown action");
    LogReturnH(kName, "0");
    return false;
  }
  char szDeviceID[sizeof m_strOdinSDeviceID] = {};
  if (!OpenPrivately(szDeviceID, sizeof szDeviceID)) {
    LogMessageH("Name", action->notDone);
    LogReturnH(kName, "0");
    return false;
  }
  const char* failure = RunAction(action->name);
  if (failure) {
    LogMessageH("Name", failure);
    CloseKeepingCodes(szDeviceID);
    LogReturnH(kName, "0");
    return false;
  }
  Close(szDeviceID);
  LogReturnH(kName, "1");
  return true;
}

// The action's steps on the open device; the error text of the step that failed, null when all
// passed. PrepareOperation has no result of its own: a printer it cannot bring out of an error
// state refuses the step after it.
const char* CMirelDriver::RunAction(const char* szActionName) {
  if (std::strcmp(szActionName, kRestart) == 0) {
    PrepareOperation();
    return ResetPrinter() != kResultOk ? "Restart error" : nullptr;
  }
  if (std::strcmp(szActionName, kSetCurrentDateTime) == 0) {
    PrepareOperation();
    // One reading of the computer's clock for both commands, so they cannot straddle a minute.
    const plat::CalendarTime now = m_pDevice->pClock->LocalTime();
    if (SetDate(now.day, now.month, now.year % 100) != kResultOk) return "Set date error";
    return SetTime(now.hour, now.minute, now.second) != kResultOk ? "Set time error" : nullptr;
  }
  if (PrintDuplicate() == kResultOk) return nullptr;
  PrepareOperation();
  return PrintLastDoc(m_pDevice.get()) != kResultOk ? "Print duplicate error" : nullptr;
}

bool CMirelDriver::DeviceTest(BSTR* pbstrDescription, BSTR*) {
  char szDeviceID[sizeof m_strOdinSDeviceID] = {};
  const bool openedHere = m_pDevice->bDeviceOpen == 0;
  const bool passed =
      (!openedHere || OpenPrivately(szDeviceID, sizeof szDeviceID)) && OdinS_TestDevice(m_strOdinSDeviceID);
  char szDescription[300] = {};
  if (!passed) GetLastError(szDescription, sizeof szDescription);
  // Closing must not change what GetLastError tells the host after a failed test.
  if (openedHere && szDeviceID[0] != '\0') CloseKeepingCodes(szDeviceID);
  if (pbstrDescription) *pbstrDescription = passed ? Utf8ToBstr(kTestPassed) : Cp1251ToBstr(szDescription);
  return passed;
}

bool CMirelDriver::OdinS_TestDevice(const char* szDeviceID) {
  static const char kName[] = "OdinS_TestDevice";
  FPContext* ctx = m_pDevice.get();
  LogEnterH(kName);
  if (!szDeviceID || std::strcmp(szDeviceID, m_strOdinSDeviceID) != 0) {
    LogReturnH(kName, "0");
    return false;
  }
  // A test page on a printer without paper or with a print fault would only fail halfway.
  GetStatus(ctx, true);
  if (ctx->status[1] & st::kPaperEnd) {
    LogMessageH(kName, "End Of Paper. Command not sent.");
    ctx->nLastResult = kCodePaperEnd;
  } else if (ctx->status[1] & st::kPrintFailure) {
    LogMessageH(kName, "Printer failure. Command not sent.");
    ctx->nLastResult = kCodePrintFailure;
  } else {
    m_bPaperEndPending = 0;
    m_bPrinterFailurePending = 0;
    ctx->nLastResult = KKMTest(ctx);
  }
  const bool passed = ctx->nLastResult == kResultOk;
  LogReturnH(kName, passed ? "1" : "0");
  return passed;
}

LONG CMirelDriver::ResetPrinter() {
  LogEnterH("ResetPrinter");
  m_pDevice->nLastResult = ResetFPMirel(m_pDevice.get());
  return ReturnH("ResetPrinter", m_pDevice->nLastResult);
}

LONG CMirelDriver::PrintDuplicate() {
  static const char kName[] = "PrintDuplicate";
  LogEnterH(kName);
  // The older printers keep no copy: saying so is better than a success with nothing printed.
  if (m_pDevice->nVersionMajor < kDuplicateMajor) {
    return ReturnH(kName, m_pDevice->nLastResult = kResultNotSupported);
  }
  ResetDocumentTotals();
  return ReturnH(kName, ::PrintDuplicate(m_pDevice.get()));
}

bool CMirelDriver::SetLocale(const char* szLocale) {
  LogEnterH("OdinS_SetLocale");
  LogMessageH("OdinS_SetLocale", szLocale ? szLocale : "");
  LogReturnH("OdinS_SetLocale", "1");
  return true;
}
