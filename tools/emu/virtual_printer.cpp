#include "emu/virtual_printer.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <system_error>

#include "emu/access.h"

namespace emu {
namespace {

using std::chrono::steady_clock;

// Longest wait for input before the serving thread looks at the stop flag again.
constexpr int kPollMs = 50;
// A frame left unfinished this long is dropped, so that its remainder cannot swallow the next one.
constexpr auto kFrameGap = std::chrono::milliseconds(500);
// How long a write may wait while nobody reads the port and its queue is full.
constexpr int kWriteTimeoutMs = 1000;
// 8E1: start bit, 8 data bits, parity, stop bit.
constexpr uint64_t kBitsPerByte = 11;
// A serial port's receiver passes bytes on when its FIFO reaches its trigger level (14 of 16 on
// the common UART) or the line pauses, not byte by byte.
constexpr size_t kFifoBytes = 14;

// The records the driver takes without acknowledging them: the printer's exchange ends when they
// have been sent. "S1" is one in its long form only; of the fiscal drive's answers only the
// registration records are acknowledged.
constexpr size_t kS1ShortData = 109;

bool SettledWithoutAck(const std::string& data) {
  auto startsWith = [&data](const char* prefix) {
    return data.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
  };
  if (startsWith("Su")) return !startsWith("Su#") && !startsWith("Su*") && !startsWith("Su-");
  if (startsWith("S1")) return data.size() > kS1ShortData;
  return startsWith("SF") || startsWith("04");
}

// A command takes a few milliseconds to parse and carry out, a thermal head prints a line of text
// in about 12 ms (some 80 lines a second at 250 mm/s), and the fiscal drive signs and stores a
// document in about 150 ms.
constexpr DeviceTiming kRealisticTiming = {3000, 12000, 150000};

}  // namespace

DeviceTiming RealisticTiming() {
  return kRealisticTiming;
}

VirtualPrinter::VirtualPrinter(plat::Clock& clock) : clock_(clock) {}

VirtualPrinter::~VirtualPrinter() {
  Stop();
}

bool VirtualPrinter::Start(const std::string& linkPath) {
  if (Running() || !pty_.Open()) return false;
  if (!linkPath.empty()) {
    std::error_code ec;
    if (std::filesystem::is_symlink(linkPath, ec)) std::filesystem::remove(linkPath, ec);
    std::filesystem::create_symlink(pty_.SlavePath(), linkPath, ec);
    if (ec) {
      pty_.Close();
      return false;
    }
    linkPath_ = linkPath;
  }
  stopping_ = false;
  thread_ = std::thread(&VirtualPrinter::Serve, this);
  return true;
}

void VirtualPrinter::Stop() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  if (!linkPath_.empty()) {
    std::error_code ec;
    std::filesystem::remove(linkPath_, ec);
    linkPath_.clear();
  }
  pty_.Close();
}

std::string VirtualPrinter::PortPath() const {
  return pty_.SlavePath();
}

PrinterState VirtualPrinter::State() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

void VirtualPrinter::ModifyState(const std::function<void(PrinterState&)>& change) {
  std::lock_guard<std::mutex> lock(mutex_);
  state_.now = clock_.UnixTime();
  change(state_);
}

void VirtualPrinter::AddCommand(const std::string& prefix, CommandHandler handler) {
  std::lock_guard<std::mutex> lock(mutex_);
  commands_.Add(prefix, std::move(handler));
}

void VirtualPrinter::NakNext(int commands) {
  std::lock_guard<std::mutex> lock(mutex_);
  nakCount_ += commands;
}

void VirtualPrinter::BusyNext(int commands) {
  std::lock_guard<std::mutex> lock(mutex_);
  busyCount_ += commands;
}

void VirtualPrinter::IgnoreNext(int frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  silenceCount_ += frames;
}

void VirtualPrinter::SilenceNextOf(const std::string& prefix, int deadUnits) {
  std::lock_guard<std::mutex> lock(mutex_);
  silencePrefix_ = prefix;
  silenceDeadUnits_ = deadUnits;
}

void VirtualPrinter::BadCheckNext(int frames) {
  std::lock_guard<std::mutex> lock(mutex_);
  badCheckCount_ += frames;
}

void VirtualPrinter::RefuseNextOf(const std::string& prefix, uint8_t deviceError, uint8_t errorBits) {
  std::lock_guard<std::mutex> lock(mutex_);
  refusePrefix_ = prefix;
  refuseError_ = deviceError;
  refuseBits_ = errorBits;
}

void VirtualPrinter::AfterNextCommand(const std::string& prefix, std::function<void(PrinterState&)> change,
                                      int deadUnits, bool answerLost) {
  std::lock_guard<std::mutex> lock(mutex_);
  triggerPrefix_ = prefix;
  triggerChange_ = std::move(change);
  triggerDeadUnits_ = deadUnits;
  triggerAnswerLost_ = answerLost;
}

void VirtualPrinter::AtNextOf(const std::string& prefix, std::function<void(VirtualPrinter&)> arm) {
  std::lock_guard<std::mutex> lock(mutex_);
  armAt_.emplace_back(prefix, std::move(arm));
}

void VirtualPrinter::SendStrayBytes(const Bytes& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  stray_.insert(stray_.end(), bytes.begin(), bytes.end());
}

void VirtualPrinter::AnswerNextWithData(const std::string& header, const std::string& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripted_.push_back({false, Reply::Data(header + body), false});
}

void VirtualPrinter::AnswerNextWithBadCheck(const std::string& header, const std::string& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripted_.push_back({false, Reply::Data(header + body), true});
}

void VirtualPrinter::AnswerNextWithEnq() {
  std::lock_guard<std::mutex> lock(mutex_);
  scripted_.push_back({true, {}, false});
}

void VirtualPrinter::AnswerNextWithPiece(const std::string& header, const std::string& body) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripted_.push_back({false, Reply::Data(header + body), false, true});
}

void VirtualPrinter::RefuseNext(uint8_t deviceError, uint8_t errorBits) {
  std::lock_guard<std::mutex> lock(mutex_);
  scripted_.push_back({false, Reply::Refuse(deviceError, errorBits), false});
}

void VirtualPrinter::SetBaudRate(uint32_t baud) {
  std::lock_guard<std::mutex> lock(mutex_);
  baud_ = baud;
}

void VirtualPrinter::SetTiming(const DeviceTiming& timing) {
  std::lock_guard<std::mutex> lock(mutex_);
  timing_ = timing;
}

Accounts VirtualPrinter::GetAccounts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return accounts_;
}

void VirtualPrinter::ResetAccounts() {
  std::lock_guard<std::mutex> lock(mutex_);
  accounts_ = Accounts();
}

// Called with mutex_ held. 0 without a speed.
uint64_t VirtualPrinter::WireUs(size_t bytes) const {
  return baud_ == 0 ? 0 : bytes * kBitsPerByte * 1'000'000ull / baud_;
}

// Spends `us` of the printer's own time (nothing is answered meanwhile), unless it is stopping.
void VirtualPrinter::Spend(uint64_t us) {
  const auto until = steady_clock::now() + std::chrono::microseconds(us);
  while (!stopping_ && steady_clock::now() < until) {
    std::this_thread::sleep_until(std::min(until, steady_clock::now() + std::chrono::milliseconds(kPollMs)));
  }
}

int VirtualPrinter::DataFramesAcknowledged() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return acknowledged_;
}

int VirtualPrinter::CollidingRequests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return collisions_;
}

void VirtualPrinter::Serve() {
  FrameReader reader;
  std::vector<RxUnit> units;
  auto lastByte = steady_clock::now();
  uint8_t buf[256];
  while (!stopping_) {
    units.clear();
    int n = pty_.Read(buf, sizeof buf, kPollMs);
    if (n > 0) {
      for (int i = 0; i < n; ++i) reader.Feed(buf[i], &units);
      lastByte = steady_clock::now();
    } else {
      // Quiet line (or a failed read, which is not expected while we hold the slave open): finish
      // pending noise and a frame abandoned half way.
      reader.Flush(steady_clock::now() - lastByte >= kFrameGap, &units);
      if (n < 0) std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    for (const RxUnit& unit : units) Handle(unit);
  }
}

void VirtualPrinter::Handle(const RxUnit& unit) {
  uint64_t arrivalUs;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    arrivalUs = WireUs(unit.raw.size());
    accounts_.bytesReceived += unit.raw.size();
    accounts_.wireUs += arrivalUs;
  }
  Spend(arrivalUs);
  trace_.Record(TraceEntry::Direction::kRx, unit.raw, unit.kind == RxUnit::Kind::kFrame);
  NoteCollision(unit);
  if (unit.kind == RxUnit::Kind::kFrame) {
    ArmAt(unit);
    uint64_t deviceUs = 0;
    const Bytes answer = CommandAnswer(unit, &deviceUs);
    Spend(deviceUs);
    // Stray bytes go out even when the frame gets no answer, so that noise followed by silence
    // can be staged.
    Send(answer, true);
  } else if (unit.kind == RxUnit::Kind::kControl) {
    Send(StatusRequestAnswer(unit.raw[0]));
  } else if (IsRawResetBody(unit.raw)) {
    std::lock_guard<std::mutex> lock(mutex_);
    RawReset(&state_);
  }
}

// The faults waiting for this frame are armed without the lock: they arm themselves through the
// public controls.
void VirtualPrinter::ArmAt(const RxUnit& frame) {
  std::vector<std::function<void(VirtualPrinter&)>> due;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = armAt_.begin(); it != armAt_.end();) {
      if (frame.text.compare(0, it->first.size(), it->first) == 0) {
        due.push_back(std::move(it->second));
        it = armAt_.erase(it);
      } else {
        ++it;
      }
    }
  }
  for (const auto& arm : due) arm(*this);
}

// A request belongs to another exchange when it comes before the answer to the last one has been
// read off the line, or when anything but the driver's ACK follows a data frame or the printer's
// ENQ that wait for it.
void VirtualPrinter::NoteCollision(const RxUnit& unit) {
  const bool asks =
      unit.kind == RxUnit::Kind::kFrame || (unit.kind == RxUnit::Kind::kControl && unit.raw[0] != ctl::kAck);
  if (!asks) return;
  const bool answerUnread = pty_.Unread() > 0;
  std::lock_guard<std::mutex> lock(mutex_);
  if (answerUnread || ackAwaited_ || enqSent_ || pieceSent_) ++collisions_;
}

// ENQ, ENQ2 and ENQT are answered at any time, even while busy. ACK settles a data frame we sent;
// a NAK from the driver is not part of the protocol and is ignored like noise.
Bytes VirtualPrinter::StatusRequestAnswer(uint8_t request) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (deadCount_ > 0) {
    --deadCount_;
    if (request != ctl::kAck) ++accounts_.unanswered;
    return {};
  }
  int64_t now = clock_.UnixTime();
  switch (request) {
    case ctl::kEnq:
      return ShortStatusFrame(state_, now);
    case ctl::kEnq2:
      return Status2Frame(state_, now);
    case ctl::kEnqt:
      return ExtendedStatusFrame(state_, now);
    case ctl::kAck:
      if (awaitingAck_) ++acknowledged_;
      awaitingAck_ = ackAwaited_ = false;
      if (pieceSent_) {
        pieceSent_ = false;
        enqSent_ = true;
        return {};
      }
      // Once the driver has acknowledged the printer's own ENQ, the printer reports its status.
      if (enqSent_) {
        enqSent_ = false;
        return ShortStatusFrame(state_, now);
      }
      return {};
    default:
      return {};
  }
}

// The order of the checks is the device's: a silenced frame is not even looked at, a damaged one
// is refused before its text means anything, and a busy device accepts nothing.
Bytes VirtualPrinter::CommandAnswer(const RxUnit& frame, uint64_t* deviceUs) {
  std::lock_guard<std::mutex> lock(mutex_);
  ++accounts_.commands;
  const size_t linesBefore = state_.tape.size();
  const size_t documentsBefore = state_.fd.documents.size();
  Bytes answer = Answer(frame);
  // A restart may clear the tape; only what a command added is printed.
  const uint64_t lines = state_.tape.size() > linesBefore ? state_.tape.size() - linesBefore : 0;
  const uint64_t documents =
      state_.fd.documents.size() > documentsBefore ? state_.fd.documents.size() - documentsBefore : 0;
  accounts_.printedLines += lines;
  accounts_.documents += documents;
  *deviceUs =
      answer.empty() ? 0 : timing_.commandUs + lines * timing_.printLineUs + documents * timing_.documentUs;
  accounts_.deviceUs += *deviceUs;
  return answer;
}

// Called with mutex_ held.
Bytes VirtualPrinter::Answer(const RxUnit& frame) {
  if (silenceCount_ > 0 || deadCount_ > 0) {
    --(silenceCount_ > 0 ? silenceCount_ : deadCount_);
    ++accounts_.unanswered;
    return {};
  }
  if (!silencePrefix_.empty() && frame.text.compare(0, silencePrefix_.size(), silencePrefix_) == 0) {
    silencePrefix_.clear();
    deadCount_ = silenceDeadUnits_;
    ++accounts_.unanswered;
    return {};
  }
  if (!frame.checkOk) return {ctl::kNak};
  if (nakCount_ > 0) {
    --nakCount_;
    return {ctl::kNak};
  }
  int64_t now = clock_.UnixTime();
  if (busyCount_ > 0 || state_.busy) {
    busyCount_ = busyCount_ > 0 ? busyCount_ - 1 : 0;
    PrinterState busy = state_;
    busy.busy = true;
    return ShortStatusFrame(busy, now);
  }
  if (!scripted_.empty()) {
    Scripted next = scripted_.front();
    scripted_.pop_front();
    enqSent_ = next.enq;
    pieceSent_ = next.piece;
    return next.enq ? Bytes{ctl::kEnq} : Render(next.reply, next.badCheck);
  }
  if (!refusePrefix_.empty() && frame.text.compare(0, refusePrefix_.size(), refusePrefix_) == 0) {
    refusePrefix_.clear();
    return Render(Reply::Refuse(refuseError_, refuseBits_), false);
  }
  state_.now = now;
  Bytes answer = Render(commands_.Dispatch(state_, frame.text), false);
  if (Trigger(frame.text) && triggerAnswerLost_) {
    ++accounts_.unanswered;
    return {};
  }
  return answer;
}

// Called with mutex_ held, after the command `text` was carried out. True when it set off the
// change waiting for it.
bool VirtualPrinter::Trigger(const std::string& text) {
  if (!triggerChange_ || text.compare(0, triggerPrefix_.size(), triggerPrefix_) != 0) return false;
  triggerChange_(state_);
  triggerChange_ = nullptr;
  deadCount_ = triggerDeadUnits_;
  return true;
}

// Called with mutex_ held. The error code of the extended status always speaks of the last command.
Bytes VirtualPrinter::Render(const Reply& reply, bool badCheck) {
  bool refused = reply.kind == Reply::Kind::kRefuse;
  state_.deviceError = refused ? reply.deviceError : 0;
  state_.errorBits = refused ? reply.errorBits : 0;
  switch (reply.kind) {
    case Reply::Kind::kAccept:
      return {ctl::kAck};
    case Reply::Kind::kRefuse:
      return ShortStatusFrame(state_, clock_.UnixTime());
    case Reply::Kind::kSilent:
      return {};
    case Reply::Kind::kRaw:
      return Bytes(reply.data.begin(), reply.data.end());
    case Reply::Kind::kData: {
      Bytes frame = Frame(reply.data);
      if (badCheckCount_ > 0) {
        --badCheckCount_;
        badCheck = true;
      }
      if (badCheck) frame.back() ^= 0xFF;
      awaitingAck_ = true;
      ackAwaited_ = !SettledWithoutAck(reply.data);
      return frame;
    }
  }
  return {};
}

// The entries are recorded before the bytes go out, so a peer that has read an answer always
// finds it in the trace.
void VirtualPrinter::Send(const Bytes& answer, bool evenIfSilent) {
  if (answer.empty() && !evenIfSilent) return;
  Bytes stray;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stray.swap(stray_);
  }
  if (!stray.empty()) {
    trace_.Record(TraceEntry::Direction::kTx, stray);
    Transmit(stray);
  }
  if (answer.empty()) return;
  trace_.Record(TraceEntry::Direction::kTx, answer);
  Transmit(answer);
}

// With pacing, bytes are handed on as a real port's receiver does: in groups of up to kFifoBytes,
// each written when the line would have delivered the stop bit of its last byte. A write that
// cannot finish (nobody has read the port for a long while) drops the bytes, as a line would.
void VirtualPrinter::Transmit(const Bytes& bytes) {
  uint32_t baud;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    baud = baud_;
    accounts_.bytesSent += bytes.size();
    accounts_.wireUs += WireUs(bytes.size());
  }
  if (baud == 0) {
    pty_.Write(bytes.data(), bytes.size(), kWriteTimeoutMs);
    return;
  }
  auto perByte = std::chrono::nanoseconds(kBitsPerByte * 1'000'000'000ull / baud);
  auto due = steady_clock::now();
  for (size_t at = 0, n = 0; at < bytes.size() && !stopping_; at += n) {
    n = std::min(kFifoBytes, bytes.size() - at);
    due += perByte * n;
    std::this_thread::sleep_until(due);
    pty_.Write(bytes.data() + at, n, kWriteTimeoutMs);
  }
}

}  // namespace emu
