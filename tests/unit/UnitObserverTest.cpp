// The engine tells of a port that did not open, then shows its box: the box a unit posts carries
// that failure's reason, so that a front end can word it in the operator's language.
#include <gtest/gtest.h>

#include "unit/UnitObserver.h"

namespace irdload::unit {
namespace {

struct CollectingSink : EventSink {
  std::vector<PortEventBody> posted;
  void Post(PortEventBody body) override { posted.push_back(std::move(body)); }
};

PortOpenFailed BusyPort() {
  OpenFailureReason reason;
  reason.kind = OpenFailureKind::Busy;
  reason.devicePath = "/dev/ttyUSB0";
  reason.holders = {{"minicom", "4100", false}};
  return {"/dev/ttyUSB0", "/dev/ttyUSB0 Open Error!", "the port /dev/ttyUSB0 is busy", reason};
}

TEST(UnitObserverTest, TheOpenFailuresBoxCarriesItsReason) {
  const struct {
    const char* label;
    bool failed;  // PortOpenFailed came first
    std::string text, detail;
    bool carries;
  } cases[] = {
      {"the failure's own box", true, "/dev/ttyUSB0 Open Error!", "the port /dev/ttyUSB0 is busy",
       true},
      {"another box after it", true, "Download Fail.", "", false},
      {"a box with no failure before it", false, "/dev/ttyUSB0 Open Error!",
       "the port /dev/ttyUSB0 is busy", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    CollectingSink sink;
    UnitObserver observer("/dev/ttyUSB0", {"a.bin"}, sink);
    observer.BeginAttempt(1, 1, "", "/dev/ttyUSB0");
    if (c.failed) observer.OnEvent(BusyPort());
    observer.MessageBox(c.text, c.detail, {});
    // The reason goes with one box only.
    observer.MessageBox(c.text, c.detail, {});
    ASSERT_EQ(sink.posted.size(), 2u);
    const auto& shown = std::get<MessageShown>(sink.posted[0]);
    EXPECT_EQ(shown.text, c.text);
    EXPECT_EQ(shown.detail, c.detail);
    ASSERT_EQ(shown.openFailure.has_value(), c.carries);
    if (c.carries) {
      EXPECT_EQ(shown.openFailure->kind, OpenFailureKind::Busy);
      ASSERT_EQ(shown.openFailure->holders.size(), 1u);
      EXPECT_EQ(shown.openFailure->holders[0].command, "minicom");
    }
    EXPECT_FALSE(std::get<MessageShown>(sink.posted[1]).openFailure.has_value());
  }
}

}  // namespace
}  // namespace irdload::unit
