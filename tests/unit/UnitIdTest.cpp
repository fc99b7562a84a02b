// Unit ids a record can hold as given, and UTF-8 as the records write it.
#include <gtest/gtest.h>

#include "unit/UnitId.h"
#include "unit/Utf8.h"

namespace irdload::unit {
namespace {

TEST(UnitIdTest, BoundedPrintableUtf8) {
  struct Case {
    std::string id;
    const char* refusal;  // a fragment of it; nullptr: taken
  };
  const Case cases[] = {
      {"", nullptr},
      {"SN-0001", nullptr},
      {"=HYPERLINK(\"x\")", nullptr},  // taken: units.csv neutralises it
      {"caf\xC3\xA9 \xE2\x84\x96 7", nullptr},
      {std::string(128, 'x'), nullptr},
      {std::string(128, 'x') + "y", "longer than 128 characters"},
      // 128 characters of two bytes each are 128 characters.
      {[] {
         std::string s;
         for (int i = 0; i < 128; ++i) s += "\xC3\xA9";
         return s;
       }(),
       nullptr},
      {"SN\x01", "control character"},
      {"SN\t7", "control character"},
      {"SN\x7F", "control character"},
      {"SN\xC2\x85", "control character"},  // U+0085, a C1 control
      {"SN-\xFF", "not valid UTF-8"},
      {"SN-\xC3", "not valid UTF-8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ShownUnitId(c.id));
    const std::optional<std::string> refusal = UnitIdRefusal(c.id);
    if (c.refusal == nullptr) {
      EXPECT_FALSE(refusal) << *refusal;
    } else {
      ASSERT_TRUE(refusal);
      EXPECT_NE(refusal->find(c.refusal), std::string::npos) << *refusal;
    }
  }
}

TEST(UnitIdTest, ShownSafely) {
  EXPECT_EQ(ShownUnitId("SN-1"), "SN-1");
  EXPECT_EQ(ShownUnitId("SN\x01-\xFF"), "SN\\x01-\\xFF");
  EXPECT_EQ(ShownUnitId(std::string(130, 'x')), std::string(128, 'x') + "...");
}

TEST(Utf8Test, ValidTextAndCharacters) {
  EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9"));
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));  // a surrogate
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));      // overlong
  EXPECT_EQ(ValidUtf8("a\xFF"
                      "b"),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(CodePoints("caf\xC3\xA9"), 4u);
}

}  // namespace
}  // namespace irdload::unit
