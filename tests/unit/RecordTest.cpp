// JSON text for any name, and records in both forms.
#include <gtest/gtest.h>

#include "support/Json.h"
#include "unit/Json.h"
#include "unit/UnitCsv.h"
#include "unit/UnitRecord.h"

namespace irdload::unit {
namespace {

TEST(JsonTest, AnyNameGivesValidJson) {
  struct Case {
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {"plain", "\"plain\""},
      {"q\"b\\", "\"q\\\"b\\\\\""},
      {"line\nbreak\ttab", "\"line\\nbreak\\ttab\""},
      {"\x1b[2J", "\"\\u001b[2J\""},
      {"\x7f", "\"\\u007f\""},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
      {"bad\xFF", "\"bad\xEF\xBF\xBD\""},
      {"cut\xE2\x82", "\"cut\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {"over\xC0\xAF", "\"over\xEF\xBF\xBD\xEF\xBF\xBD\""},
      {std::string("nul\0x", 5), "\"nul\\u0000x\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(JsonString(c.in), c.out);
    EXPECT_TRUE(test::JsonParser(c.out).Parse()) << c.out;
  }
  EXPECT_EQ(
      UtcTimestamp(std::chrono::system_clock::time_point(std::chrono::milliseconds(1796885521123))),
      "2026-12-10T06:52:01.123Z");
}

TEST(UnitRecordTest, JsonAndCsvCarryEveryField) {
  UnitRecord r;
  r.toolVersion = "irdload-cli 1.0.0";
  r.host = "bench";
  r.portLabel = "A";
  r.portPath = "/dev/serial/by-path/p0";
  r.adapter = {"/dev/ttyUSB0",
               "/dev/serial/by-path/p0",
               "/dev/serial/by-id/usb-x",
               "1a86",
               "7523",
               "",
               "QinHeng",
               "USB Serial",
               "ch341-uart"};
  r.files = {{"/fw/main,v2.uuc", 3064, std::string(64, 'a'), 0xFFEEFFCC, 3000, 3}};
  r.unitId = "SN \"7\"";
  r.unit = 4;
  r.packetsSent = 4;
  r.counts = {1, 2, 3, 4, 5};
  r.durationSeconds = 0.5;
  r.lineEfficiency = 0.99;
  r.outcome = {OutcomeKind::Failed, FailureReason::IrdReportedFailure, "Download Fail.",
               "two\nlines"};
  r.exitCode = 4;
  const auto json = test::JsonParser(RecordJson(r)).Parse();
  ASSERT_TRUE(json);
  const test::JsonValue& v = *json;
  EXPECT_EQ(v["schema"].Int(), 2);
  EXPECT_EQ(v["adapter"]["vendorId"].text, "1a86");
  EXPECT_EQ(v["adapter"]["driver"].text, "ch341-uart");
  EXPECT_EQ(v["files"].items[0]["typeCode"].text, "0xffeeffcc");
  EXPECT_EQ(v["files"].items[0]["payloadSize"].Int(), 3000);
  EXPECT_EQ(v["unitId"].text, "SN \"7\"");
  EXPECT_FALSE(v["loaded"].boolean);
  EXPECT_EQ(v["reason"].text, "ird-reported-failure");
  EXPECT_EQ(v["exitCode"].Int(), 4);
  // The engine's counts: rejections, repeats, late replies, stale bytes, failed steps.
  EXPECT_EQ(v["rejections"].Int(), 1);
  EXPECT_EQ(v["repeats"].Int(), 2);
  EXPECT_EQ(v["lateReplies"].Int(), 3);
  EXPECT_EQ(v["staleBytes"].Int(), 4);
  EXPECT_EQ(v["failedSteps"].Int(), 5);
  EXPECT_EQ(v["trace"].kind, test::JsonValue::Kind::Null);
  // One line per unit, with as many fields as the header names.
  const std::string line = CsvLine(r);
  EXPECT_EQ(std::count(line.begin(), line.end(), '\n'), 1);
  EXPECT_NE(line.find("\"/fw/main,v2.uuc\""), std::string::npos) << line;
  EXPECT_NE(line.find("\"SN \"\"7\"\"\""), std::string::npos) << line;
  EXPECT_NE(line.find("two lines"), std::string::npos) << line;
  const std::string header = CsvHeader();
  EXPECT_EQ(std::count(header.begin(), header.end(), ','), 37);
  EXPECT_NE(line.find(",5,1,2,3,4,"), std::string::npos) << "failed steps, rejections, ...";
}

// A spreadsheet runs a cell that starts with =, +, - or @ (or a tab or CR before one) as a
// formula; units.csv must be safe to open, and valid UTF-8 for strict readers. The JSON record
// keeps the exact text.
TEST(UnitRecordTest, CsvCellsAreNeutralisedAndValidUtf8) {
  struct Case {
    std::string unitId;
    std::string cell;  // as units.csv holds it
  };
  const Case cases[] = {
      {"SN-1", "SN-1"},
      {"=HYPERLINK(\"http://x\")", "\"'=HYPERLINK(\"\"http://x\"\")\""},
      {"+1", "'+1"},
      {"-1", "'-1"},
      {"@SUM(A1)", "'@SUM(A1)"},
      {"\tlead", "'\tlead"},
      {"\rlead", "\"' lead\""},
      {"caf\xC3\xA9", "caf\xC3\xA9"},
      {"bad\xFF", "bad\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.unitId);
    UnitRecord r;
    r.unitId = c.unitId;
    r.portLabel = "A";
    const std::string line = CsvLine(r);
    EXPECT_NE(line.find("," + c.cell + ","), std::string::npos) << line;
    const auto json = test::JsonParser(RecordJson(r)).Parse();
    ASSERT_TRUE(json);
    if (c.unitId.find('\xFF') == std::string::npos) {
      EXPECT_EQ((*json)["unitId"].text, c.unitId);
    }
  }
  UnitRecord r;
  r.files = {{"/fw/\xFE\xFFmain.uuc", 3064, "", 0, 3000, 3}};
  r.outcome.message = "=1+1";
  const std::string line = CsvLine(r);
  EXPECT_EQ(line.find('\xFF'), std::string::npos) << "not UTF-8";
  EXPECT_NE(line.find(",'=1+1,"), std::string::npos) << line;
}

// The room set aside before a unit holds its record at its largest: the longest id a scanner may
// give (128 characters of four bytes each, escaped nowhere), every attempt's outcome.
TEST(UnitRecordTest, RoomHoldsTheRecordAtItsLargest) {
  UnitRecord draft;
  draft.toolVersion = "irdload-cli 1.0.0";
  draft.host = std::string(64, 'h');
  draft.portLabel = "bench-3";
  draft.portPath = "/dev/serial/by-path/" + std::string(200, 'p');
  for (int i = 0; i < 128; ++i) draft.unitId += "\xF0\x9F\x93\xA6";
  draft.adapter.device = "/dev/ttyUSB0";
  draft.adapter.byId = "/dev/serial/by-id/" + std::string(200, 'i');
  draft.files = {{"/fw/" + std::string(300, 'f') + ".u01", 3064, std::string(64, '0'), 1, 2, 3},
                 {"/fw/" + std::string(300, 'f') + ".u02", 3064, std::string(64, '0'), 1, 2, 3}};
  draft.trace = "/traces/bench-3-unit1-attempt4.trace";
  constexpr int kAttempts = 4;
  UnitRecord done = draft;
  const std::string detail(600, '"');  // every byte escaped, in JSON and in CSV
  done.outcome = {OutcomeKind::Failed, FailureReason::PacketRejected, "Download Fail.", detail};
  for (int i = 1; i < kAttempts; ++i) done.earlierAttempts.push_back("failed: " + detail);
  done.attempts = kAttempts;
  done.packetsSent = 4294967295u;
  done.counts = {4294967295u, 4294967295u, 4294967295u, 4294967295u, 4294967295u};
  done.durationSeconds = 123456789.123;
  done.lineEfficiency = 0.9999;
  done.exitCode = 130;
  const std::uint64_t needed = RecordJson(done).size() + 1 + CsvLine(done).size();
  EXPECT_LE(needed, RecordRoom(draft, kAttempts));
}

TEST(UnitRecordTest, FileSafeLabels) {
  EXPECT_EQ(FileSafe("bench 3/é"), "bench_3___");
  EXPECT_EQ(FileSafe(".."), "_..");
}

TEST(UnitRecordTest, ProtocolLineTimeCountsEveryByteAtItsBitTime) {
  // One packet: 69 + 1027 byte times; a chained second file of 1021 bytes: 72 + 2 * 1027.
  EXPECT_EQ(ProtocolLineTime({0}).count(), 1096LL * 10 * 1'000'000'000 / 115200);
  EXPECT_EQ(ProtocolLineTime({0, 1021}).count(), (1096LL + 2126) * 10 * 1'000'000'000 / 115200);
}

}  // namespace
}  // namespace irdload::unit
