// mirel-link: a service tool that opens the printer's COM port and runs a link-level session:
// command frames and status polls, with every byte on the line shown as it goes out and comes back.
//
//   mirel-link [--com N] [--baud-code C] [--pause MS] [--init [--password P]] [--fd] ITEM...
//
// An ITEM is a command text sent as one transaction, or one of the status polls ENQ, ENQ2, ENQT.
// With --init the printer is brought up first (InitFP2) and the recognised model and its identity
// are shown before the items run. With --fd the fiscal drive's status, tax systems and the
// documents waiting for the OFD are shown.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "device/bringup.h"
#include "device/fiscal_drive.h"
#include "device/fp_context.h"
#include "device/info_queries.h"
#include "device/info_records.h"
#include "device/link.h"
#include "device/serial_port.h"
#include "platform/codepage.h"

namespace {

// The driver's trace texts are Windows-1251 (the printer's texts among them); a terminal reads
// UTF-8.
std::string Shown(const char* text) {
  return plat::Cp1251ToUtf8(text ? text : "");
}

void PrintEnter(FPContext*, const char* name) {
  printf("{%s\n", Shown(name).c_str());
}
void PrintReturn(FPContext*, const char* name, const char* result) {
  printf("}%s ret %s\n", Shown(name).c_str(), Shown(result).c_str());
}
void PrintMessage(FPContext*, const char* name, const char* text) {
  printf("  *%s: %s\n", Shown(name).c_str(), Shown(text).c_str());
}
void PrintSend(FPContext*, const char* frame, const char* result) {
  printf("  <send %s %s\n", Shown(frame).c_str(), Shown(result).c_str());
}
void PrintRecv(FPContext*, const char* frame, const char* kind) {
  printf("  >recv %s %s\n", Shown(frame).c_str(), Shown(kind).c_str());
}

struct Poll {
  const char* name;
  uint8_t byte;
  int expected;
};

const Poll kPolls[] = {
    {"ENQ", ctl::ENQ, kExpectEnqStatus},
    {"ENQ2", ctl::ENQ2, kExpectEnq2Status},
    {"ENQT", ctl::ENQT, kExpectEnqtStatus},
};

int RunPoll(FPContext* ctx, const Poll& poll) {
  char frame[8];
  snprintf(frame, sizeof frame, "[%2.2X]", poll.byte);
  const int sent = SendChar(ctx, poll.byte);
  PrintSend(ctx, frame, LinkResultText(sent));
  return sent == kLinkOk ? AcceptData(ctx, poll.expected, true, false) : sent;
}

int RunItem(FPContext* ctx, const std::string& item, int pauseMs) {
  for (const Poll& poll : kPolls) {
    if (item == poll.name) return RunPoll(ctx, poll);
  }
  return ExecTransaction(ctx, item.c_str(), pauseMs, true, false);
}

void PrintS1Field(const FPContext* ctx, const char* label, S1Field field) {
  char text[32];
  S1Text(ctx, field, text, sizeof text);
  printf("  %-22s %s\n", label, Shown(text).c_str());
}

// The model bring-up recognised and the identity the printer reports in its "S1" record.
void PrintRecognised(FPContext* ctx) {
  const bool identity = GetBasicInfo(ctx) == 0;
  printf("== recognised model\n");
  printf("  %-22s \"%s\"\n", "version banner", Shown(ctx->infoSV + 2).c_str());
  printf("  %-22s %d.%d (code 0x%X, context kind %d)\n", "model", ctx->nVersionMajor, ctx->nVersionMinor,
         static_cast<unsigned>(ctx->nVersionCode), ctx->nContextKind);
  printf("  %-22s %d characters\n", "line width", ctx->nLineWidth);
  printf("  %-22s %d\n", "fiscal drive format", ctx->nFnFfdVersion);
  if (!identity) {
    printf("  identity: the printer did not send its record (code %d)\n\n", ctx->nLastResult);
    return;
  }
  printf("== identity\n");
  PrintS1Field(ctx, "serial number", S1Field::kSerial);
  PrintS1Field(ctx, "fiscal drive number", S1Field::kFiscalDrive);
  PrintS1Field(ctx, "registration number", S1Field::kRegistration);
  PrintS1Field(ctx, "taxpayer number", S1Field::kTaxpayer);
  PrintS1Field(ctx, "shift", S1Field::kShift);
  PrintS1Field(ctx, "fiscal documents", S1Field::kDocuments);
  PrintS1Field(ctx, "last receipt", S1Field::kLastReceipt);
  printf("\n");
}

// The fiscal drive as its status answers show it, and its backlog for the OFD. The number of
// failed requests.
int PrintFiscalDrive(FPContext* ctx) {
  const int status = GetStatusFiscalDrive(ctx);
  const int exchange = GetStatusInfoFiscalDrive(ctx);
  const int taxes = GetTaxVariant(ctx);
  const FdStatusRecord& s = ctx->FdStatus;
  const FdExchangeRecord& x = ctx->FdExchange;
  printf("== fiscal drive\n");
  if (status == 0) {
    printf("  %-22s %s\n", "number", s.szFdNumber);
    printf("  %-22s %u\n", "life phase", s.nFdLifePhase);
    printf("  %-22s %s\n", "shift", s.bFdShiftOpen ? "open" : "closed");
    printf("  %-22s 0x%02X\n", "warning flags", s.nFdWarnings);
    printf("  %-22s %u\n", "last document", static_cast<unsigned>(s.nFdLastDocNumber));
    printf("  %-22s %02u.%02u.%02u %02u:%02u\n", "date and time", s.abFdDate[2], s.abFdDate[1], s.abFdDate[0],
           s.abFdTime[0], s.abFdTime[1]);
  } else {
    printf("  status: no answer (%d %s)\n", status, LinkResultText(status));
  }
  if (taxes == 0) printf("  %-22s 0x%02X\n", "tax systems", ctx->nFdTaxSystems);
  printf("== documents waiting for the OFD\n");
  if (exchange == 0) {
    printf("  %-22s %u\n", "count", x.nFdBacklogCount);
    if (x.nFdBacklogCount > 0) {
      const uint8_t* d = x.abFdBacklogFirstDate;
      printf("  %-22s %u of %02u.%02u.%02u %02u:%02u\n", "first", static_cast<unsigned>(x.nFdBacklogFirstDoc),
             d[2], d[1], d[0], d[3], d[4]);
    }
  } else {
    printf("  exchange status: no answer (%d %s)\n", exchange, LinkResultText(exchange));
  }
  printf("\n");
  return (status != 0) + (exchange != 0) + (taxes != 0);
}

int Usage() {
  fprintf(stderr,
          "usage: mirel-link [--com N] [--baud-code C] [--pause MS] [--init [--password P]] [--fd] ITEM...\n"
          "  ITEM: a command text (one transaction) or a status poll ENQ, ENQ2, ENQT\n"
          "  --init         bring the printer up first and show its model and identity\n"
          "  --password P   operator password for --init (default 472913)\n"
          "  --fd           show the fiscal drive's status and the documents waiting for the OFD\n"
          "  --com N        COM port number (default 1; on POSIX MIREL_COM<N> names the device)\n"
          "  --baud-code C  0=4800 1=9600 2=19200 3=38400 4=57600 5=76800 6=115200 (default 6)\n"
          "  --pause MS     pause between a command and its answer (default 110)\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 1, baudCode = 6, pauseMs = 110;
  bool init = false;
  bool fiscalDrive = false;
  const char* password = "472913";
  std::vector<std::string> items;
  for (int i = 1; i < argc; ++i) {
    const bool hasValue = i + 1 < argc;
    if (!strcmp(argv[i], "--com") && hasValue) {
      port = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--baud-code") && hasValue) {
      baudCode = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--pause") && hasValue) {
      pauseMs = atoi(argv[++i]);
    } else if (!strcmp(argv[i], "--init")) {
      init = true;
    } else if (!strcmp(argv[i], "--fd")) {
      fiscalDrive = true;
    } else if (!strcmp(argv[i], "--password") && hasValue) {
      password = argv[++i];
    } else if (argv[i][0] == '-' && argv[i][1] == '-') {
      return Usage();
    } else {
      items.emplace_back(argv[i]);
    }
  }
  if (items.empty() && !init && !fiscalDrive) return Usage();

  FPContext ctx;
  ctx.pfnLogEnter = PrintEnter;
  ctx.pfnLogReturn = PrintReturn;
  ctx.pfnLogMessage = PrintMessage;
  ctx.pfnLogSend = PrintSend;
  ctx.pfnLogRecv = PrintRecv;
  // Until bring-up recognises it, the printer is taken for the supported model (version 11.1):
  // its extended status has the 27-byte layout, and a device ENQ is followed by it.
  ctx.nVersionMajor = 11;
  ctx.nVersionMinor = 1;

  int failures = 0;
  if (init) {
    const int32_t result = InitFP2(&ctx, port, password, baudCode, nullptr);
    printf("= bring-up -> %d\n\n", static_cast<int>(result));
    // A printer that waits for its Z report is still recognised and can be looked at.
    if (ctx.nComPort == 0 || ctx.nVersionCode == 0) {
      fprintf(stderr, "mirel-link: bring-up of COM%d failed with code %d\n", port, static_cast<int>(result));
      CloseSerial(&ctx);
      return 1;
    }
    PrintRecognised(&ctx);
    if (result != 0) ++failures;
  } else if (OpenSerial2(&ctx, port, baudCode) != kLinkOk) {
    fprintf(stderr, "mirel-link: cannot open COM%d\n", port);
    return 1;
  }
  if (fiscalDrive) failures += PrintFiscalDrive(&ctx);
  for (const std::string& item : items) {
    const int result = RunItem(&ctx, item, pauseMs);
    printf("= %s -> %d %s\n\n", item.c_str(), result, LinkResultText(result));
    if (result < 0) ++failures;
  }
  CloseSerial(&ctx);
  return failures == 0 ? 0 : 1;
}
