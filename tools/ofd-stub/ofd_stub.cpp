#include "ofd-stub/ofd_stub.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace ofdstub {
namespace {

// How long the server waits for the rest of a message before it gives the connection up.
constexpr uint32_t kMessageWaitMs = 10000;
// The slice of every wait, so that Stop is noticed at once.
constexpr uint32_t kPollMs = 50;
constexpr int kSegments = 3;

const char* DocumentTypeName(uint8_t type) {
  switch (type) {
    case ffd::kRegistration:
      return "registration";
    case ffd::kShiftOpening:
      return "shift opening";
    case ffd::kReceipt:
      return "receipt";
    case ffd::kShiftClosing:
      return "shift closing";
    case ffd::kDriveClosing:
      return "drive closing";
    case ffd::kReregistration:
      return "re-registration";
    case ffd::kSettlementsReport:
      return "settlements report";
    case ffd::kCorrectionReceipt:
      return "correction receipt";
    default:
      return "document";
  }
}

const char* OperationName(uint8_t operation) {
  static const char* const kNames[] = {"?", "sale", "sale return", "purchase", "purchase return"};
  return operation < 5 ? kNames[operation] : "?";
}

std::string Money(uint64_t kopecks) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRIu64 ".%02" PRIu64, kopecks / 100, kopecks % 100);
  return text;
}

uint64_t VlnOf(const std::vector<ffd::Tlv>& tags, uint16_t tag) {
  uint64_t value = 0;
  const ffd::Tlv* t = ffd::FindTag(tags, tag);
  return t && ffd::ReadVln(*t, &value) ? value : 0;
}

// " sale, 2 item(s), total 150.00 (cash 100.00, cashless 50.00)" for the tags of a receipt.
std::string ReceiptText(const std::vector<ffd::Tlv>& tags) {
  uint8_t operation = 0;
  const ffd::Tlv* op = ffd::FindTag(tags, ffd::tag::kOperationType);
  if (op) ffd::ReadU8(*op, &operation);
  int items = 0;
  for (const ffd::Tlv& t : tags) items += t.tag == ffd::tag::kItem;
  return std::string(" ") + OperationName(operation) + ", " + std::to_string(items) + " item(s), total " +
         Money(VlnOf(tags, ffd::tag::kTotal)) + " (cash " + Money(VlnOf(tags, ffd::tag::kCash)) +
         ", cashless " + Money(VlnOf(tags, ffd::tag::kCashless)) + ")";
}

// A decimal number up to `max`, nothing else.
bool ParseCount(const std::string& text, unsigned long max, unsigned long* value) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  *value = std::strtoul(text.c_str(), nullptr, 10);
  return *value <= max;
}

}  // namespace

bool ParseFault(const std::string& text, FaultSettings* settings, std::string* error) {
  static const struct {
    const char* kind;
    Fault fault;
    int FaultSettings::*pause;  // the number an argument sets, if any
  } kKinds[] = {{"-", Fault::kNone, nullptr},
                {"none", Fault::kNone, nullptr},
                {"down", Fault::kNone, nullptr},
                {"close", Fault::kClose, nullptr},
                {"stall", Fault::kStall, nullptr},
                {"slow", Fault::kSlow, &FaultSettings::slowAnswerMs},
                {"pieces", Fault::kSegments, &FaultSettings::segmentPauseMs},
                {"garbage", Fault::kGarbage, nullptr},
                {"short", Fault::kShort, nullptr}};
  const size_t colon = text.find(':');
  const std::string kind = text.substr(0, colon);
  const bool hasArg = colon != std::string::npos;
  const std::string arg = hasArg ? text.substr(colon + 1) : std::string();
  for (const auto& k : kKinds) {
    if (kind != k.kind) continue;
    FaultSettings parsed;
    parsed.refuse = kind == "down";
    parsed.fault = k.fault;
    if (hasArg) {
      const bool isShort = k.fault == Fault::kShort;
      if (!k.pause && !isShort) {
        *error = "OFD fault \"" + kind + "\" takes no argument";
        return false;
      }
      const unsigned long max = isShort ? ffd::kSessionHeaderSize : 600000;
      unsigned long n = 0;
      if (!ParseCount(arg, max, &n)) {
        *error = "OFD fault \"" + text + "\": the argument must be a number from 0 to " + std::to_string(max);
        return false;
      }
      if (isShort) {
        parsed.shortBytes = n;
      } else {
        parsed.*k.pause = static_cast<int>(n);
      }
    }
    *settings = parsed;
    return true;
  }
  *error =
      "unknown OFD fault \"" + text + "\" (down, close, stall, slow[:MS], pieces[:MS], garbage, short[:N])";
  return false;
}

std::string DescribeDocument(const ffd::Container& c, const std::vector<ffd::Tlv>& tags) {
  std::string line = "document " + std::to_string(c.documentNumber) + " (" +
                     DocumentTypeName(c.documentType) + ") drive " + c.driveNumber;
  uint32_t value = 0;
  const ffd::Tlv* date = ffd::FindTag(tags, ffd::tag::kDateTime);
  if (date && ffd::ReadU32(*date, &value)) line += ", " + ffd::DateText(value);
  const ffd::Tlv* sign = ffd::FindTag(tags, ffd::tag::kFiscalSign);
  if (sign && ffd::ReadFiscalSign(*sign, &value)) line += ", fiscal sign " + std::to_string(value);
  if (c.documentType == ffd::kReceipt || c.documentType == ffd::kCorrectionReceipt)
    line += "," + ReceiptText(tags);
  return line;
}

ffd::Bytes AcknowledgementAnswer(const ffd::Container& document) {
  ffd::Acknowledgement a;
  a.driveNumber = document.driveNumber;
  a.documentNumber = document.documentNumber;
  memcpy(a.serviceData1, document.serviceData1, ffd::kServiceData1Size);
  a.dateTime = static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
          .count());
  // Any operator sign will do for the virtual drive; this one names the document it belongs to.
  for (size_t i = 0; i < ffd::kOperatorSignSize; ++i) {
    a.operatorSign[i] = static_cast<uint8_t>(document.documentNumber >> (8 * (i % 4)));
  }
  return ffd::BuildMessage(ffd::AcknowledgementContainer(a));
}

OfdStub::~OfdStub() {
  Stop();
}

bool OfdStub::Start(uint16_t port, bool refuse) {
  if (thread_.joinable()) return false;
  listener_ = plat::TcpListenLoopback(port, !refuse);
  if (listener_ == nullptr) return false;
  port_ = plat::TcpListenerPort(listener_);
  refuse_ = refuse;
  stopping_ = false;
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void OfdStub::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  stopWake_.notify_all();
  if (thread_.joinable()) thread_.join();
  plat::TcpCloseListener(listener_);
  listener_ = nullptr;
}

void OfdStub::SetFault(Fault fault, int count) {
  std::lock_guard<std::mutex> lock(mutex_);
  fault_ = fault;
  faultCount_ = count;
}

void OfdStub::ApplyFault(const FaultSettings& settings) {
  SetFault(settings.fault);
  slowAnswerMs_ = settings.slowAnswerMs;
  segmentPauseMs_ = settings.segmentPauseMs;
  shortBytes_ = std::min(settings.shortBytes, ffd::kSessionHeaderSize);
}

std::vector<std::string> OfdStub::Lines() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_;
}

bool OfdStub::WaitLines(size_t count, int timeoutMs) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return linesChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                [&] { return lines_.size() >= count; });
}

void OfdStub::SetLineListener(std::function<void(const std::string&)> listener) {
  std::lock_guard<std::mutex> lock(mutex_);
  lineListener_ = std::move(listener);
}

void OfdStub::AddLine(const std::string& line, const std::string& detail) {
  std::function<void(const std::string&)> listener;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.push_back(line);
    listener = lineListener_;
  }
  linesChanged_.notify_all();
  if (!listener) return;
  listener(line);
  if (!detail.empty()) listener("  " + detail);
}

Fault OfdStub::TakeFault() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (faultCount_ == 0) return Fault::kNone;
  if (faultCount_ > 0) --faultCount_;
  return fault_;
}

void OfdStub::Serve() {
  while (!stopping_) {
    // A refusing server only holds its port until it is stopped.
    if (refuse_) {
      std::unique_lock<std::mutex> lock(mutex_);
      stopWake_.wait_for(lock, std::chrono::milliseconds(kPollMs));
      continue;
    }
    plat::TcpHandle h = plat::TcpAccept(listener_, kPollMs);
    if (h == nullptr) continue;
    ++connections_;
    Exchange(h);
    plat::TcpClose(h);
  }
}

bool OfdStub::ReadExactly(plat::TcpHandle h, size_t count, ffd::Bytes* out) {
  out->assign(count, 0);
  size_t got = 0;
  for (uint32_t waited = 0; got < count && waited < kMessageWaitMs && !stopping_; waited += kPollMs) {
    size_t n = 0;
    bool closed = false;
    if (!plat::TcpReceive(h, out->data() + got, count - got, kPollMs, &n, &closed)) return false;
    got += n;
    if (closed) break;
  }
  return got == count;
}

// One message, read strictly: a session header of the published kind, then exactly as many bytes
// as it announces, which must be one whole container whose document carries the tags of its kind.
// Anything else is logged with its reason and left unanswered.
void OfdStub::Exchange(plat::TcpHandle h) {
  ffd::Bytes header, body;
  ffd::SessionHeader session;
  if (!ReadExactly(h, ffd::kSessionHeaderSize, &header)) {
    AddLine("error: message shorter than a session header");
    return;
  }
  if (!ffd::ParseSessionHeader(header.data(), header.size(), &session)) {
    AddLine("error: not a session header of the FN-OFD exchange");
    return;
  }
  if (!ReadExactly(h, session.containerLength, &body)) {
    AddLine("error: message shorter than its session header says");
    return;
  }
  ffd::Container container;
  const ffd::ContainerError e = ffd::ParseContainer(body.data(), body.size(), &container);
  if (e != ffd::ContainerError::kNone) {
    AddLine(std::string("error: ") + ffd::ContainerErrorText(e));
    return;
  }
  if (container.driveNumber != session.driveNumber) {
    AddLine("error: drive numbers of session header and container differ");
    return;
  }
  std::vector<ffd::Tlv> tags;
  std::string why;
  if (!ffd::ReadDocument(container, &tags, &why)) {
    AddLine("error: document " + std::to_string(container.documentNumber) + ": " + why);
    return;
  }
  AddLine(DescribeDocument(container, tags), ffd::TagsText(tags));
  Answer(h, AcknowledgementAnswer(container), TakeFault());
}

void OfdStub::Answer(plat::TcpHandle h, const ffd::Bytes& answer, Fault fault) {
  constexpr uint32_t kSendMs = 2000;
  switch (fault) {
    case Fault::kNone:
      plat::TcpSendAll(h, answer.data(), answer.size(), kSendMs);
      break;
    case Fault::kClose:
      break;
    case Fault::kStall:
      HoldUntilClosed(h);
      break;
    case Fault::kSlow:
      PauseUnlessStopped(slowAnswerMs_);
      if (!stopping_) plat::TcpSendAll(h, answer.data(), answer.size(), kSendMs);
      break;
    case Fault::kSegments: {
      const size_t piece = (answer.size() + kSegments - 1) / kSegments;
      for (size_t at = 0; at < answer.size() && !stopping_; at += piece) {
        if (at > 0) PauseUnlessStopped(segmentPauseMs_);
        const size_t n = std::min(piece, answer.size() - at);
        if (!plat::TcpSendAll(h, answer.data() + at, n, kSendMs)) break;
      }
      break;
    }
    case Fault::kShort:
      if (shortBytes_ > 0) plat::TcpSendAll(h, answer.data(), shortBytes_, kSendMs);
      break;
    case Fault::kGarbage: {
      ffd::Bytes garbage(answer.begin(), answer.begin() + ffd::kSessionHeaderSize);
      garbage.resize(answer.size(), 0xEE);
      plat::TcpSendAll(h, garbage.data(), garbage.size(), kSendMs);
      break;
    }
  }
}

// A pause that Stop cuts short, so that a slow or segmented answer never holds the server up.
void OfdStub::PauseUnlessStopped(int ms) {
  std::unique_lock<std::mutex> lock(mutex_);
  stopWake_.wait_for(lock, std::chrono::milliseconds(ms), [&] { return stopping_.load(); });
}

// A stalled server: the connection stays open, unanswered, until the client gives up or the server
// is stopped.
void OfdStub::HoldUntilClosed(plat::TcpHandle h) {
  uint8_t sink[256];
  bool closed = false;
  while (!closed && !stopping_) {
    size_t n = 0;
    if (!plat::TcpReceive(h, sink, sizeof sink, kPollMs, &n, &closed)) return;
  }
}

}  // namespace ofdstub
