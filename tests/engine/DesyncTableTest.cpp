// One fault at every reply of a download, on the in-process line with its virtual clock: a reply
// lost, changed into every other command byte, late, its answer lost, the PC stalled after it,
// with an IRD that repeats an unanswered reply after 300 ms and with one that never repeats. Two
// things are asserted: no fault ever ends in success with anything but the exact image, and the
// faults that the two ends can prove harmless recover, loading the exact image.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "engine/ImageWriter.h"
#include "support/ModelLine.h"

namespace irdload {
namespace {

using namespace std::chrono_literals;
using sim::Fault;
using sim::FaultKind;

enum class Verdict { Exact, CleanFailure, StillCalling };

const char* Name(Verdict v) {
  switch (v) {
    case Verdict::Exact:
      return "exact";
    case Verdict::CleanFailure:
      return "failed";
    case Verdict::StillCalling:
      return "calling";
  }
  return "?";
}

// Three packets: E2 E3 E4, then E7 E8 for each packet, then EB.
constexpr std::uint8_t kReplies[] = {0xE2, 0xE3, 0xE4, 0xE7, 0xE8, 0xE7, 0xE8, 0xE7, 0xE8, 0xEB};
constexpr std::size_t kPayload = 2500;

struct Ending {
  Verdict verdict;
  std::string why;
};

Ending RunOnce(const std::vector<Fault>& faults, std::chrono::microseconds repeatAfter) {
  test::ModelLineOptions options;
  options.irdFaults = faults;
  options.timing.repeatAfter = repeatAfter;
  options.limits.retryLimit = 30;  // 1.5 s of silence at the 50 ms bound: five repeats' time
  const auto file = ComposeImage(kTypeSingle, PatternPayload(kPayload));
  test::ModelLine line(options);
  const test::ModelRun run = line.Run(file);
  EXPECT_FALSE(run.hung);
  if (run.gaveUpCalling) return {Verdict::StillCalling, ""};
  if (run.outcome.kind == OutcomeKind::Success) {
    // The one thing that may never happen: success with anything but the file on the IRD.
    EXPECT_EQ(test::Compare(run.ird, file), test::WrongImage::None);
    return {Verdict::Exact, run.outcome.detail};
  }
  EXPECT_TRUE(run.outcome.kind == OutcomeKind::Failed ||
              run.outcome.kind == OutcomeKind::NoResponse);
  EXPECT_FALSE(run.outcome.message.empty());
  return {Verdict::CleanFailure, run.outcome.message + " " + run.outcome.detail};
}

struct Family {
  const char* name;
  Fault (*make)(std::uint32_t at);
  // Whether one fault of this family at a reply must recover, given that reply and whether the
  // IRD repeats. What the two ends can prove: a reply or an answer that is only late or lost is
  // repeated by the IRD and answered again; a stalled PC drops the repeats that waited for it.
  bool (*recovers)(std::uint8_t reply, bool repeats);
};

const Family kFamilies[] = {
    {"reply lost",
     [](std::uint32_t at) {
       return Fault{FaultKind::DropReply, at};
     },
     // Calling again brings another connect acknowledge; any other reply only comes again as a
     // repeat.
     [](std::uint8_t reply, bool repeats) { return repeats || reply == 0xE2; }},
    {"answer lost",
     [](std::uint32_t at) {
       return Fault{FaultKind::LoseAnswer, at};
     },
     // Answered with data (the header, a packet), a lost first byte leaves the unit short: the IRD
     // asks again while the PC waits, which the PC cannot tell from a lost packet. The answer to
     // the success terminate comes after the IRD said it stored the image.
     [](std::uint8_t reply, bool repeats) {
       if (reply == 0xEB) return true;
       return repeats && reply != 0xE3 && reply != 0xE7;
     }},
    {"reply 400 ms late",
     [](std::uint32_t at) {
       Fault f{FaultKind::DelayReply, at};
       f.delay = 400ms;
       return f;
     },
     [](std::uint8_t, bool) { return true; }},
    {"PC stalled 450 ms after the reply",
     [](std::uint32_t at) {
       Fault f{FaultKind::StallPc, at};
       f.delay = 450ms;
       return f;
     },
     [](std::uint8_t, bool) { return true; }},
};

TEST(DesyncTableTest, SingleFaultsNeverGiveAWrongImageAndTheProvableOnesRecover) {
  std::ostringstream table;
  for (const bool repeats : {true, false}) {
    const std::chrono::microseconds repeatAfter = repeats ? 300ms : 0ms;
    table << (repeats ? "IRD repeats after 300 ms\n" : "IRD never repeats\n");
    for (const Family& family : kFamilies) {
      table << "  " << family.name << ":";
      for (std::uint32_t at = 0; at < std::size(kReplies); ++at) {
        SCOPED_TRACE(testing::Message()
                     << family.name << " at reply " << at << " (0x" << std::hex << int{kReplies[at]}
                     << std::dec << "), " << (repeats ? "repeating IRD" : "silent IRD"));
        const Ending run = RunOnce({family.make(at)}, repeatAfter);
        table << ' ' << Name(run.verdict);
        if (family.recovers(kReplies[at], repeats)) {
          EXPECT_EQ(run.verdict, Verdict::Exact) << run.why;
        }
      }
      table << '\n';
    }
    // A reply changed into each other command byte: never a wrong image, and with an IRD that
    // repeats, the changes the PC takes for a repeat recover.
    table << "  reply changed into:\n";
    for (std::uint8_t code : {0xE2, 0xE3, 0xE4, 0xE5, 0xE7, 0xE8, 0xE9, 0xEB, 0xEC}) {
      table << "    0x" << std::hex << int{code} << std::dec << ":";
      for (std::uint32_t at = 0; at < std::size(kReplies); ++at) {
        SCOPED_TRACE(testing::Message()
                     << "reply " << at << " changed into 0x" << std::hex << int{code} << std::dec
                     << ", " << (repeats ? "repeating IRD" : "silent IRD"));
        const Ending run = RunOnce({{FaultKind::CorruptReply, at, code}}, repeatAfter);
        table << ' ' << Name(run.verdict);
      }
      table << '\n';
    }
  }
  RecordProperty("verdicts", table.str());
  std::cout << table.str();
}

// The guards that the repeat rule must not weaken, each a case where the PC cannot know what the
// IRD stored: they end as clean failures, whether the IRD repeats or not.
TEST(DesyncTableTest, GuardsHoldWithARepeatingIrd) {
  struct Case {
    const char* label;
    std::vector<Fault> faults;
  };
  // Reply 3 is the first packet's request; PC byte 64+3 is the packet's first byte (after E1 EF,
  // the header and E6).
  const Case cases[] = {
      {"a packet byte lost: the IRD asks for the packet again while the PC waits",
       {{FaultKind::LosePcByte, 2 + 64 + 1 + 500}}},
      {"the first packet's rejection heard as a success terminate",
       {{FaultKind::NackPacket, 0}, {FaultKind::CorruptReply, 4, 0xEB}}},
      {"a rejection heard as an acceptance",
       {{FaultKind::NackPacket, 1}, {FaultKind::CorruptReply, 6, 0xE8}}},
  };
  for (const Case& c : cases) {
    for (const bool repeats : {true, false}) {
      SCOPED_TRACE(testing::Message() << c.label << (repeats ? ", repeating IRD" : ", silent IRD"));
      const Ending run = RunOnce(c.faults, repeats ? 300ms : 0ms);
      EXPECT_NE(run.verdict, Verdict::Exact) << run.why;
    }
  }
}

}  // namespace
}  // namespace irdload
