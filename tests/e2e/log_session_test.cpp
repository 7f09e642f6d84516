// A scripted session against the virtual printer with both trace files on: the files must equal
// the golden copies byte for byte. The clock is fixed, so the time stamps are too.
// MIREL_UPDATE_GOLDEN=1 rewrites the golden copies from the current output (review the diff).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "device/link.h"
#include "device/serial_port.h"
#include "device/status.h"
#include "driver/mirel_driver.h"
#include "emu/virtual_printer.h"
#include "log/log.h"
#include "support/fake_clock.h"
#include "support/scoped_env.h"

namespace fs = std::filesystem;

namespace {

const fs::path kGolden = fs::path(MIREL_TESTS_DIR) / "e2e" / "golden";

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void ExpectGolden(const fs::path& produced, const char* name) {
  const std::string actual = ReadFile(produced);
  if (const char* update = getenv("MIREL_UPDATE_GOLDEN"); update && *update == '1') {
    std::ofstream(kGolden / name, std::ios::binary) << actual;
  }
  EXPECT_EQ(actual, ReadFile(kGolden / name)) << name;
}

// The host-level calls: identity and the last error, as the host makes them after a failure.
void RunHostCalls(CMirelDriver& driver) {
  BSTR texts[4] = {};
  LONG numbers[3] = {};
  driver.GetDescription(&texts[0], &texts[1], &texts[2], &numbers[0], &numbers[1], &numbers[2], &texts[3]);
  for (BSTR b : texts) SysFreeString(b);
  LONG width = 0;
  driver.GetLineLength("1", &width);
  char description[256];
  driver.GetLastError(description, sizeof description);
}

// The device-level session: open, status polls, an accepted command, a refused one (which the
// driver answers with a restart), the extended status, and close.
void RunDeviceSession(FPContext* ctx, emu::VirtualPrinter& printer) {
  OpenSerial2(ctx, 61, 6);
  GetStatus(ctx, false);
  GetStatus2(ctx);
  StdTransaction(ctx, "e", 110, true, false);
  printer.RefuseNext(41);
  StdTransaction(ctx, "X", 110, true, false);
  CloseSerial(ctx);
}

TEST(LogSession, FilesMatchTheGoldenCopies) {
  emu::VirtualPrinter printer;
  ASSERT_TRUE(printer.Start());
  ScopedEnv port("MIREL_COM61", printer.PortPath().c_str());
  char dirTemplate[] = "/tmp/mirel-log-session-XXXXXX";
  ASSERT_NE(mkdtemp(dirTemplate), nullptr);
  const fs::path dir(dirTemplate);

  FakeClock clock;
  CMirelDriver driver;
  FPContext* ctx = driver.Device();
  ctx->pClock = &clock;
  ctx->nVersionMajor = 11;
  ctx->nVersionMinor = 1;
  snprintf(ctx->szLogFileH, sizeof ctx->szLogFileH, "%s", (dir / "Mirel-H.log").c_str());
  snprintf(ctx->szLogFileL, sizeof ctx->szLogFileL, "%s", (dir / "Mirel-L.log").c_str());
  SetLogMode(ctx, kLogAll, 1);
  OpenLogs(ctx);

  RunDeviceSession(ctx, printer);
  RunHostCalls(driver);
  CloseLogs(ctx);

  ExpectGolden(dir / "Mirel-L.log", "session-L.log");
  ExpectGolden(dir / "Mirel-H.log", "session-H.log");
  fs::remove_all(dir);
}

}  // namespace
