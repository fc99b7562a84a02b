// One reply corrupted into another command byte, at every point of a download: the PC may end
// in success only when the IRD holds exactly the image; anything else ends as a clear failure,
// or (where the IRD never answered the connect request) keeps calling until stopped.
#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "engine/DownloadEngine.h"
#include "engine/ImageWriter.h"
#include "sim/VirtualIrd.h"
#include "support/Outcomes.h"
#include "support/RecordingHost.h"
#include "support/TempDir.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;

enum class Verdict { ExactSuccess, CleanFailure, StillCalling };

const char* Name(Verdict v) {
  switch (v) {
    case Verdict::ExactSuccess:
      return "success";
    case Verdict::CleanFailure:
      return "failure";
    case Verdict::StillCalling:
      return "still calling";
  }
  return "?";
}

TEST(DesyncTest, OneCorruptedReplyNeverEndsInAFalseSuccess) {
  test::TempDir dir;
  const auto file = ComposeImage(kTypeSingle, PatternPayload(2500));  // three packets
  const std::string path = dir.WriteBytes("image.uuc", file);
  const std::vector<std::uint8_t> payload(file.begin() + 64, file.end());
  constexpr std::uint32_t kReplies = 3 + 2 * 3 + 1;  // E2 E3 E4, (E7 E8) x3, EB
  const std::uint8_t codes[] = {0xE2, 0xE3, 0xE4, 0xE5, 0xE7, 0xE8, 0xE9, 0xEB, 0xEC};
  std::map<Verdict, int> counts;
  std::ostringstream table;
  for (std::uint32_t at = 0; at < kReplies; ++at) {
    table << "reply " << at << ":";
    for (std::uint8_t code : codes) {
      SCOPED_TRACE(testing::Message() << "reply " << at << " -> " << std::hex << int{code});
      sim::VirtualIrd::Options o;
      o.faults = {{sim::FaultKind::CorruptReply, at, code}};
      sim::VirtualIrd ird(o);
      std::string why;
      ASSERT_TRUE(ird.Start(&why)) << why;
      test::RecordingHost host;
      host.SetPortPath(ird.SlavePath());
      host.SetFiles(path);
      EngineOptions eo;
      eo.replyWait = 20ms;
      eo.limits.retryLimit = 20;
      DownloadEngine engine(std::move(eo));
      engine.Init(host, ird.SlavePath());
      ASSERT_EQ(engine.StartDownload(), 1);
      Verdict verdict;
      if (!engine.WaitIdle(60s)) {
        // The IRD took a corrupted connect acknowledge's answer as something else and waits;
        // the engine calls until stopped, as designed. Nothing was sent but calls.
        ASSERT_LE(engine.state(), STATUS_WAIT_CONNECT_ACK);
        engine.Finish();
        EXPECT_TRUE(ird.GetReport().files.empty() || ird.GetReport().files[0].packetsAccepted == 0);
        verdict = Verdict::StillCalling;
      } else {
        const auto report = ird.GetReport();
        const auto outcome = test::LastOutcomeKind(engine);
        if (outcome == OutcomeKind::Success) {
          ASSERT_EQ(report.files.size(), 1u);
          EXPECT_EQ(report.files[0].payload, payload);
          EXPECT_TRUE(report.files[0].successTerminate);
          verdict = Verdict::ExactSuccess;
        } else {
          EXPECT_TRUE(outcome == OutcomeKind::Failed || outcome == OutcomeKind::NoResponse);
          EXPECT_FALSE(host.messages().empty());
          verdict = Verdict::CleanFailure;
        }
      }
      EXPECT_FALSE(engine.snapshot().payloadHeld);
      ++counts[verdict];
      table << ' ' << std::hex << int{code} << std::dec << '=' << Name(verdict);
    }
    table << '\n';
  }
  int classified = 0;
  for (const auto& [verdict, count] : counts) classified += count;
  EXPECT_EQ(classified, static_cast<int>(kReplies * std::size(codes)));
  RecordProperty("verdicts", table.str());
}

}  // namespace
}  // namespace irdload
