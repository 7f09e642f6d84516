// A virtual fiscal printer serving its serial line on a pseudo-terminal: the driver opens
// PortPath() as its COM port and talks to it exactly as to the real device. Start and Stop belong
// to the owner; every other control is thread-safe and may be used while the line is served.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emu/command_table.h"
#include "emu/frame_reader.h"
#include "emu/printer_state.h"
#include "emu/trace.h"
#include "emu/wire.h"
#include "platform/clock.h"
#include "platform/pty.h"

namespace emu {

// Time the printer spends where a real one does, before it answers a command. All 0 (the
// default) answers at once; RealisticTiming() is what a real printer takes.
struct DeviceTiming {
  uint32_t commandUs = 0;    // taking in and carrying out any command frame
  uint32_t printLineUs = 0;  // each line the command puts on the tape
  uint32_t documentUs = 0;   // each document the command has the fiscal drive write
};
DeviceTiming RealisticTiming();

// Where the printer's time went since the start (or the last ResetAccounts), in microseconds: the
// bytes on the line at its speed both ways, and the modelled device time. Together with the rests
// the driver must keep they are the least a run of commands can take.
struct Accounts {
  uint64_t bytesReceived = 0;
  uint64_t bytesSent = 0;
  uint64_t wireUs = 0;    // every byte received and sent, 11 bits at the line's speed
  uint64_t deviceUs = 0;  // modelled command, print and fiscal-drive time
  uint64_t commands = 0;  // command frames received
  uint64_t printedLines = 0;
  uint64_t documents = 0;
  // Commands and status requests a fault left without any answer: each costs the driver its read
  // time-out.
  uint64_t unanswered = 0;
};

class VirtualPrinter {
 public:
  // `clock` decides the shift's age (shift time exceeded); tests may pass one of their own.
  explicit VirtualPrinter(plat::Clock& clock = plat::SystemClock());
  ~VirtualPrinter();
  VirtualPrinter(const VirtualPrinter&) = delete;
  VirtualPrinter& operator=(const VirtualPrinter&) = delete;

  // Opens a pseudo-terminal and starts serving it on a thread of its own. With a `linkPath`, also
  // makes a symbolic link there to the port (replacing a stale link, never another kind of file),
  // removed again by Stop. False when the printer already runs or something failed.
  bool Start(const std::string& linkPath = "");
  // Stops serving within about one poll interval (50 ms) and closes the port. Idempotent.
  void Stop();
  bool Running() const { return thread_.joinable(); }
  // The path the driver opens (the pseudo-terminal's slave); empty while stopped.
  std::string PortPath() const;

  PrinterState State() const;
  void ModifyState(const std::function<void(PrinterState&)>& change);
  // Registers the handler of the command texts beginning with `prefix` (see CommandTable).
  void AddCommand(const std::string& prefix, CommandHandler handler);

  // Fault injection. Counts add up; each answer that a fault replaces uses one of its count.
  void NakNext(int commands);   // NAK the next well-formed commands
  void BusyNext(int commands);  // answer with the busy status, then accept as usual
  void IgnoreNext(int frames);  // silence: no answer at all to the next frames
  // The next command whose text begins with `prefix` is neither carried out nor answered, and the
  // line stays dead for the next `deadUnits` frames and status requests after it.
  void SilenceNextOf(const std::string& prefix, int deadUnits);
  // The next data frames (records) go out with a wrong check character.
  void BadCheckNext(int frames);
  // Sent just before the next answer of any kind, or in its place when the frame is silenced.
  void SendStrayBytes(const Bytes& bytes);
  // One-shot answers to the next commands, used in the order they were queued:
  void AnswerNextWithData(const std::string& header, const std::string& body);
  void AnswerNextWithBadCheck(const std::string& header, const std::string& body);
  // The device's ENQ instead of ACK; once the driver acknowledges it, the short status follows.
  void AnswerNextWithEnq();
  // A piece of text in place of an answer ("SN" and a digit): once the driver acknowledges it, the
  // exchange goes on as after the printer's ENQ (the next ACK is answered with the short status).
  void AnswerNextWithPiece(const std::string& header, const std::string& body);
  void RefuseNext(uint8_t deviceError, uint8_t errorBits = kCommandError);
  // The next command whose text begins with `prefix` is refused with `deviceError`, not carried out.
  // `errorBits` kFiscalError says the fiscal drive refused the document the command makes.
  void RefuseNextOf(const std::string& prefix, uint8_t deviceError, uint8_t errorBits = kCommandError);
  // Once the next command whose text begins with `prefix` has been carried out and answered,
  // `change` is applied to the state (a paper end, a restart) and the line is dead for the next
  // `deadUnits` frames and status requests: they get no answer at all, as with a pulled cable.
  // With `answerLost` the command's answer is lost on the line as well: it was carried out, but the
  // driver never hears so.
  void AfterNextCommand(const std::string& prefix, std::function<void(PrinterState&)> change, int deadUnits,
                        bool answerLost = false);
  // Arms the faults `arm` sets once the next command whose text begins with `prefix` arrives, so that
  // they strike that command or, for the ones that wait for an answer of a kind, the first from there.
  void AtNextOf(const std::string& prefix, std::function<void(VirtualPrinter&)> arm);
  // Paces every byte sent as a line at this speed with 8E1 framing (11 bits a byte); 0 = no pacing.
  // With a speed set, bytes the driver sends are taken in at it as well (the port delivers them
  // at once): the printer looks at a frame only when its last byte would have arrived.
  void SetBaudRate(uint32_t baud);
  void SetTiming(const DeviceTiming& timing);
  Accounts GetAccounts() const;
  void ResetAccounts();

  // Data frames sent and acknowledged by the driver with ACK.
  int DataFramesAcknowledged() const;
  // Commands and status requests that arrived while an exchange was still pending: the answer to
  // the last request not yet read, or a data frame or the printer's ENQ not yet acknowledged. Two
  // parties sharing the line without taking turns show here; one driver keeping to the protocol
  // never does.
  int CollidingRequests() const;

  std::vector<TraceEntry> TraceEntries() const { return trace_.Entries(); }
  void ClearTrace() { trace_.Clear(); }
  void SetTraceListener(Trace::Listener listener) { trace_.SetListener(std::move(listener)); }
  bool WaitFramesReceived(size_t count, int timeoutMs) const {
    return trace_.WaitFramesReceived(count, timeoutMs);
  }

 private:
  // A queued one-shot answer: the device's ENQ, or a reply with an optionally spoiled check.
  struct Scripted {
    bool enq = false;
    Reply reply;
    bool badCheck = false;
    bool piece = false;
  };

  void Serve();
  void Handle(const RxUnit& unit);
  void NoteCollision(const RxUnit& unit);
  Bytes StatusRequestAnswer(uint8_t request);
  Bytes CommandAnswer(const RxUnit& frame, uint64_t* deviceUs);
  Bytes Answer(const RxUnit& frame);
  uint64_t WireUs(size_t bytes) const;
  void Spend(uint64_t us);
  Bytes Render(const Reply& reply, bool badCheck);
  bool Trigger(const std::string& text);
  void ArmAt(const RxUnit& frame);
  void Send(const Bytes& answer, bool evenIfSilent = false);
  void Transmit(const Bytes& bytes);

  plat::Clock& clock_;
  plat::Pty pty_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::string linkPath_;
  Trace trace_;

  mutable std::mutex mutex_;  // guards everything below
  PrinterState state_;
  CommandTable commands_;
  int nakCount_ = 0;
  int busyCount_ = 0;
  int silenceCount_ = 0;
  int deadCount_ = 0;  // line units left unanswered after a triggered fault
  int badCheckCount_ = 0;
  std::string silencePrefix_;
  int silenceDeadUnits_ = 0;
  std::string triggerPrefix_;
  std::function<void(PrinterState&)> triggerChange_;
  int triggerDeadUnits_ = 0;
  bool triggerAnswerLost_ = false;
  std::vector<std::pair<std::string, std::function<void(VirtualPrinter&)>>> armAt_;
  std::string refusePrefix_;
  uint8_t refuseError_ = 0;
  uint8_t refuseBits_ = kCommandError;
  Bytes stray_;
  std::deque<Scripted> scripted_;
  uint32_t baud_ = 0;
  DeviceTiming timing_;
  Accounts accounts_;
  bool awaitingAck_ = false;
  bool ackAwaited_ = false;  // the data frame sent is one the driver acknowledges
  bool enqSent_ = false;     // our ENQ awaits the driver's ACK, after which we send the status
  bool pieceSent_ = false;   // a piece awaits its ACK, after which it counts as our ENQ
  int acknowledged_ = 0;
  int collisions_ = 0;
};

}  // namespace emu
