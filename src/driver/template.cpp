// The receipt template: eight header and eight footer lines with bold, double height and centring,
// programmed into the printer.
#include <cstdio>
#include <cstring>
#include <string>

#include "device/programming.h"
#include "device/result_codes.h"
#include "device/status.h"
#include "driver/mirel_driver.h"
#include "platform/codepage.h"

namespace {

constexpr int kLines = 8;
// The printer prints the character after this byte in bold; a bold line takes two bytes a character.
constexpr char kBoldMark = 0x7F;
// Longest footer line the printer centres against.
constexpr int kMaxFooterWidth = 48;
// Longest padded footer line.
constexpr size_t kMaxPaddedFooter = 100;
// Device flags of the template: bit n - 1 of flag 15 prints header line n at double height; bit 6
// of flag 4 is the centring that Open programs from "CenterCliche".
constexpr int kHeaderHeightFlag = 15;
constexpr int kCentringFlag = 4;
constexpr int kCentringBit = 6;
// Footer attributes of SetFooterRow.
constexpr int kFooterNormal = 0;
constexpr int kFooterDoubleHeight = 2;

// The line's number, attributes and text on the high-level log.
void LogTemplateLine(FPContext* ctx, const char* name, int n, bool bold, bool height, const char* text) {
  if (!ctx->pfnLogMessageH) return;
  ctx->pfnLogMessageH(ctx, name, ("nNumStr: " + std::to_string(n)).c_str());
  ctx->pfnLogMessageH(ctx, name, bold ? "Bold: true" : "Bold: false");
  ctx->pfnLogMessageH(ctx, name, height ? "Height * 2: true" : "Height * 2: false");
  if (text) ctx->pfnLogMessageH(ctx, name, (std::string("sText: ") + text).c_str());
}

// The line as the printer takes it: with a bold mark before each character of a bold line.
std::string BoldLine(const char* text, size_t count, bool bold) {
  std::string line;
  for (size_t i = 0; i < count; ++i) {
    if (bold) line.push_back(kBoldMark);
    line.push_back(text[i]);
  }
  return line;
}

// A template line longer than its limit is cut in place, leaving limit - 1 characters: the
// printer's last cell of a full line stays free.
void CutTemplateLine(char* text, int limit) {
  if (limit > 0) text[limit - 1] = '\0';
}

// Blanks in front of a footer text of `length` characters that centre it on a line of `width`.
// Texts that (nearly) fill the line are not moved.
size_t CentringBlanks(size_t length, int width) {
  if (length == 0 || static_cast<int>(length) >= width - 1) return 0;
  return static_cast<size_t>(width - static_cast<int>(length)) / 2;
}

}  // namespace

LONG CMirelDriver::SetTemplateCheck() {
  LogEnterH("SetTemplateCheck");
  FPContext* ctx = m_pDevice.get();
  // Header lines 1 and 2 (organisation and address) are the registration's; the template starts at 3.
  for (int n = 3; n <= kLines; ++n) SetOrderHeaderTemplate(n, ctx->aszHeaderText[n - 1]);
  // Footer lines go from the last to the first, each programmed whatever the others gave.
  for (int n = kLines; n >= 1; --n) {
    LogMessageH("SetTemplateCheck:Footer", ctx->aszFooterText[n - 1]);
    SetOrderFooter(n, ctx->aszFooterText[n - 1]);
  }
  LogReturnH("SetTemplateCheck", "0");
  return kResultOk;
}

// Logged as SetOrderHeader, like the older method it stands beside.
LONG CMirelDriver::SetOrderHeaderTemplate(int nNumStr, char* szText) {
  static const char kName[] = "SetOrderHeader";
  FPContext* ctx = m_pDevice.get();
  LogEnterH(kName);
  const bool valid = nNumStr >= 1 && nNumStr <= kLines;
  const bool bold = valid && ctx->abHeaderBold[nNumStr - 1];
  const bool height = valid && ctx->abHeaderHeight[nNumStr - 1];
  LogTemplateLine(ctx, kName, nNumStr, bold, height, szText);
  if (!valid) {
    LogMessageH(kName, "Bad <nNumStr> Value");
    LogReturnH(kName, "13");
    return ctx->nLastResult = kCodeWrongValue;
  }
  const int limit = bold ? ctx->nLineWidth / 2 : ctx->nLineWidth;
  if (szText && std::strlen(szText) > static_cast<size_t>(limit)) {
    LogMessageH(kName, "Too long string");
    CutTemplateLine(szText, limit);
  }
  const char* text = szText ? szText : "";
  if (ProgramHeaderLine(ctx, nNumStr, BoldLine(text, std::strlen(text), bold).c_str()) != kResultOk) {
    GetStatusT(ctx);
  }
  const LONG r = height ? SetDeviceFlagBit(nNumStr - 1, kHeaderHeightFlag)
                        : ClearDeviceFlagBit(nNumStr - 1, kHeaderHeightFlag);
  if (r != kResultOk) GetStatusT(ctx);
  LogReturnH(kName, std::to_string(r).c_str());
  return r;
}

LONG CMirelDriver::SetOrderHeader(int nNumStr, const char* szText, bool bBold) {
  static const char kName[] = "SetOrderHeader";
  FPContext* ctx = m_pDevice.get();
  LogEnterH(kName);
  LONG r = kResultOk;
  const char* text = szText ? szText : "";
  const int limit = bBold ? ctx->nLineWidth / 2 : ctx->nLineWidth;
  if (nNumStr < 1 || nNumStr > kLines) {
    LogMessageH(kName, "Bad <nNumStr> Value");
    r = ctx->nLastResult = kCodeWrongValue;
  } else if (std::strlen(text) > static_cast<size_t>(limit)) {
    // Unlike the template, a line given here is refused whole rather than cut.
    LogMessageH(kName, "Too long string");
    r = ctx->nLastResult = kCodeWrongValue;
  } else {
    r = ProgramHeaderLine(ctx, nNumStr, BoldLine(text, std::strlen(text), bBold).c_str());
    if (r != kResultOk) LogMessageH(kName, DriverErrorText(r));
  }
  LogReturnH(kName, std::to_string(r).c_str());
  return r;
}

LONG CMirelDriver::SetOrderFooter(int nNumStr, char* szText) {
  static const char kName[] = "SetOrderFooter";
  static const std::string kLengthMessage = plat::Utf8ToCp1251("Длина строки = ");
  FPContext* ctx = m_pDevice.get();
  const int width = ctx->nLineWidth < kMaxFooterWidth ? ctx->nLineWidth : kMaxFooterWidth;
  LogEnterH(kName);
  const bool valid = nNumStr >= 1 && nNumStr <= kLines;
  const bool bold = valid && ctx->abFooterBold[nNumStr - 1];
  const bool height = valid && ctx->abFooterHeight[nNumStr - 1];
  LogTemplateLine(ctx, kName, nNumStr, bold, height, szText);
  // Centring is the printer's setting as Open programmed it; unreadable means off.
  bool centre = false;
  if (GetDeviceFlagBit(kCentringBit, kCentringFlag, &centre) != kResultOk) centre = false;
  if (!valid) {
    LogMessageH(kName, "Bad <nNumStr> Value");
    LogReturnH(kName, "13");
    return ctx->nLastResult = kCodeWrongValue;
  }
  const int limit = bold ? width / 2 : width;
  if (szText && std::strlen(szText) > static_cast<size_t>(limit)) {
    LogMessageH(kName, "Too long string");
    CutTemplateLine(szText, limit);
  }
  const size_t length = szText ? std::strlen(szText) : 0;
  LogMessageH(kName, (kLengthMessage + std::to_string(length)).c_str());
  std::string padded;
  if (length > 0) {
    padded.assign(centre ? CentringBlanks(length, bold ? width / 2 : width) : 0, ' ');
    padded.append(szText, length);
    if (padded.size() > kMaxPaddedFooter) padded.resize(kMaxPaddedFooter);
  }
  LONG r;
  if (padded.empty()) {
    r = SetFooterRow(ctx, nNumStr, kFooterNormal, "");
  } else {
    const size_t count = padded.size() < static_cast<size_t>(width) ? padded.size() : static_cast<size_t>(width);
    r = SetFooterRow(ctx, nNumStr, height ? kFooterDoubleHeight : kFooterNormal,
                     BoldLine(padded.c_str(), count, bold).c_str());
  }
  if (r != kResultOk) GetStatusT(ctx);
  LogReturnH(kName, std::to_string(r).c_str());
  return r;
}
