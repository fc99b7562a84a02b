// Records read back from their JSON, as the floor keeps other stations' records: the same JSON
// and the same units.csv line again, and a clear refusal for anything else.
#include <gtest/gtest.h>

#include "unit/RecordParse.h"
#include "unit/UnitCsv.h"

namespace irdload::unit {
namespace {

using namespace std::chrono_literals;

UnitRecord FullRecord() {
  UnitRecord r;
  r.toolVersion = "irdload-cli 1.2.0";
  r.started = std::chrono::system_clock::time_point(1796885521123ms);
  r.ended = r.started + 61234ms;
  r.host = "bench-7";
  r.portLabel = "A";
  r.portPath = "/dev/serial/by-path/p0";
  r.adapter = {"/dev/ttyUSB0",
               "/dev/serial/by-path/p0",
               "/dev/serial/by-id/usb-x",
               "1a86",
               "7523",
               "S1",
               "QinHeng",
               "USB Serial",
               "ch341-uart"};
  r.files = {{"/fw/main,v2.u01", 3064, std::string(64, 'a'), 0xFFEEFFAA, 3000, 3},
             {"/fw/main,v2.u02", 1088, std::string(64, 'b'), 0xFFEEFFBB, 1024, 2}};
  r.unitId = "=SN \"7\"\xFF";
  r.unit = 12;
  r.attempts = 2;
  r.earlierAttempts = {"failed: the IRD reported failure"};
  r.packetsSent = 6;
  r.counts = {1, 2, 3, 4, 5};
  r.durationSeconds = 61.234;
  r.lineEfficiency = 0.9912;
  r.outcome = {OutcomeKind::Success, FailureReason::None, "Download end successfully.", ""};
  r.exitCode = 0;
  r.trace = "/traces/A-12.trace";
  return r;
}

TEST(RecordParseTest, GivesTheSameJsonAndCsvLineAgain) {
  UnitRecord failed = FullRecord();
  failed.outcome = {OutcomeKind::Failed, FailureReason::AnswersNotHeard, "Download Fail.",
                    "two\nlines"};
  failed.exitCode = 4;
  failed.lineEfficiency.reset();
  failed.trace.clear();
  failed.earlierAttempts.clear();
  UnitRecord plain;  // every field as a draft has it
  plain.started = plain.ended = std::chrono::system_clock::time_point(0ms);
  for (const UnitRecord& r : {FullRecord(), failed, plain}) {
    const std::string text = RecordJson(r);
    std::string error;
    const std::optional<UnitRecord> back = ParseRecord(Json::parse(text), &error);
    ASSERT_TRUE(back) << error << "\n" << text;
    EXPECT_EQ(RecordJson(*back), text);
    EXPECT_EQ(CsvLine(*back), CsvLine(r));
  }
}

TEST(RecordParseTest, RefusesWhatItWouldNotWriteBackTheSame) {
  struct Case {
    const char* what;
    std::function<void(Json&)> change;
    const char* said;
  };
  const Case cases[] = {
      {"another schema", [](Json& j) { j["schema"] = 1; }, "schema 1"},
      {"a field missing", [](Json& j) { j.erase("host"); }, "\"host\""},
      {"a text that is a number", [](Json& j) { j["unitId"] = 7; }, "\"unitId\""},
      {"a negative count", [](Json& j) { j["repeats"] = -1; }, "\"repeats\""},
      {"a count too large", [](Json& j) { j["unit"] = 4294967296ULL; }, "\"unit\""},
      {"a date that does not exist", [](Json& j) { j["started"] = "2026-02-30T10:00:00.000Z"; },
       "\"started\""},
      {"a time without milliseconds", [](Json& j) { j["ended"] = "2026-12-10T06:52:01Z"; },
       "\"ended\""},
      {"an unknown outcome", [](Json& j) { j["outcome"] = "maybe"; }, "\"outcome\""},
      {"loaded against its outcome", [](Json& j) { j["loaded"] = false; }, "\"loaded\""},
      {"a type code that is not hex", [](Json& j) { j["files"][0]["typeCode"] = "0xffeeffzz"; },
       "\"typeCode\""},
      {"files that are not a list", [](Json& j) { j["files"] = "x"; }, "\"files\""},
      {"not an object", [](Json& j) { j = Json::array(); }, "object"},
  };
  for (const Case& c : cases) {
    Json j = Json::parse(RecordJson(FullRecord()));
    c.change(j);
    std::string error;
    EXPECT_FALSE(ParseRecord(j, &error)) << c.what;
    EXPECT_NE(error.find(c.said), std::string::npos) << c.what << ": " << error;
  }
}

TEST(RecordParseTest, TimestampsReadAsWritten) {
  for (const auto t : {0ms, 1796885521123ms, 951782400999ms /* 2000-02-29 */}) {
    const std::chrono::system_clock::time_point time(t);
    EXPECT_EQ(ParseUtcTimestamp(UtcTimestamp(time)), time) << UtcTimestamp(time);
  }
  for (const char* bad :
       {"", "2026-12-10 06:52:01.123Z", "2026-13-10T06:52:01.123Z", "2026-12-10T24:00:00.000Z",
        "2026-12-10T06:60:01.123Z", "2026-12-10T06:52:01.12xZ", "2026-12-10T06:52:01.123+01"}) {
    EXPECT_FALSE(ParseUtcTimestamp(bad)) << bad;
  }
}

}  // namespace
}  // namespace irdload::unit
