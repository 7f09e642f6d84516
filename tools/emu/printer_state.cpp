#include "emu/printer_state.h"

#include "platform/clock.h"

namespace emu {
namespace {

// Every status byte has 01 in its two top bits, so it never collides with a control byte.
constexpr uint8_t kStatusBase = 0x40;
constexpr uint8_t kStatus2Marker = 0x70;

bool ShiftExpired(const PrinterState& s, int64_t now) {
  return s.shiftOpen && now - s.shiftOpenedAt >= int64_t{s.maxShiftHours} * 3600;
}

uint8_t Status0(const PrinterState& s) {
  uint8_t b = kStatusBase;
  if (s.busy) b |= 0x04;
  if (s.fiscal) {
    b |= 0x60;
    if (s.fiscalReceiptOpen) b |= 0x01;
    if (s.receiptOpen) b |= 0x02;
  } else if (s.receiptOpen || s.fiscalReceiptOpen) {
    b |= 0x02;
  }
  return b;
}

uint8_t Status1(const PrinterState& s) {
  uint8_t b = kStatusBase | ((s.errorBits | s.stuckErrorBits) & 0x3E);
  if (s.paperEnd) b |= 0x01;
  if (s.printFailure) b |= 0x02;
  return b;
}

uint8_t Status2(const PrinterState& s, int64_t now) {
  uint8_t b = kStatusBase;
  if (s.shiftOpen) b |= 0x01;
  if (s.zReportRequired) b |= 0x20;
  if (ShiftExpired(s, now)) b |= 0x60;
  return b;
}

uint8_t Digit(int value) { return static_cast<uint8_t>(0x30 + value); }

}  // namespace

StatusBytes StatusOf(const PrinterState& s, int64_t now) { return {Status0(s), Status1(s), Status2(s, now)}; }

Bytes ShortStatusFrame(const PrinterState& s, int64_t now) {
  StatusBytes st = StatusOf(s, now);
  return Frame(Bytes{st.status0, st.status1});
}

Bytes Status2Frame(const PrinterState& s, int64_t now) {
  return Frame(Bytes{StatusOf(s, now).status2, kStatus2Marker});
}

Bytes ExtendedStatusFrame(const PrinterState& s, int64_t now) {
  StatusBytes st = StatusOf(s, now);
  Bytes p{st.status0, st.status1, st.status2};
  AppendNibbleChars(&p, 0);  // journal state: this model has no journal
  AppendNibbleChars(&p, s.deviceError);
  p.push_back(Digit(s.documentType));
  p.insert(p.end(), {'0', '0', '0'});  // F
  p.insert(p.end(), {'0', '0'});       // N1, N2
  AppendNibbleChars(&p, 0);            // PPIOCD
  AppendNibbleChars(&p, 0);            // PSTATUS
  plat::CalendarTime opened{};
  if (s.shiftOpenedAt != 0) opened = plat::LocalTimeOf(s.shiftOpenedAt);
  p.insert(p.end(), {Digit(opened.day), Digit(opened.month), Digit(opened.year % 100)});
  p.insert(p.end(), {Digit(opened.hour), Digit(opened.minute)});
  AppendNibbleChars(&p, 0);  // unused
  p.push_back(Digit(s.maxShiftHours));
  return Frame(p);
}

}  // namespace emu
