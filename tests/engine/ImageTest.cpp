#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "engine/Image.h"
#include "engine/ImageWriter.h"
#include "support/Child.h"
#include "support/TempDir.h"

namespace irdload {
namespace {

using test::TempDir;

class ImageTest : public ::testing::Test {
 protected:
  ImageCheck Load(const std::string& path, ImageKind& kind, UpgradeImage& image) {
    ImageFile file;
    std::string why;
    if (!file.Open(path, &why)) {
      ADD_FAILURE() << why;
      return {};
    }
    return LoadImage(file, kind, image);
  }
  TempDir dir_;
};

// A file whose reads stop short after `limit` bytes, as a failing disk's would.
class ShortReadFile final : public UpgradeFile {
 public:
  ShortReadFile(std::vector<std::uint8_t> bytes, std::uint64_t limit)
      : file_(std::move(bytes)), limit_(limit) {}
  std::size_t ReadAt(std::uint64_t offset, std::uint8_t* buffer, std::size_t length) override {
    if (offset >= limit_) return 0;
    return file_.ReadAt(offset, buffer, std::min<std::uint64_t>(length, limit_ - offset));
  }
  std::uint64_t Length() override { return file_.Length(); }

 private:
  MemoryUpgradeFile file_;
  std::uint64_t limit_;
};

std::vector<std::uint8_t> WithSize(std::vector<std::uint8_t> file, std::uint32_t size) {
  WriteLe32(file.data() + kSizeOffset, size);
  return file;
}

TEST_F(ImageTest, RefusedFilesShowTheirMessageAndKeepTheKind) {
  const auto good = ComposeImage(kTypeSingle, PatternPayload(3000));
  auto badMagic = good;
  badMagic[0] = 0x01;
  struct Case {
    const char* label;
    std::vector<std::uint8_t> bytes;
    ImageKind kindBefore;
    const char* message;
  };
  const Case cases[] = {
      {"empty", {}, IMAGE_NONE, "Read Error!"},
      {"63 bytes", std::vector<std::uint8_t>(good.begin(), good.begin() + 63), IMAGE_NONE,
       "Read Error!"},
      {"wrong magic", badMagic, IMAGE_NONE, "Invalid file: magic number miss match"},
      {"size one too big", WithSize(good, 3001), IMAGE_NONE, "Invalid file size: check main.auc"},
      {"size one too small", WithSize(good, 2999), IMAGE_NONE, "Invalid file size: check main.auc"},
      {"size near 2^32", WithSize(good, 0xFFFFFFFFu), IMAGE_NONE,
       "Invalid file size: check main.auc"},
      {"second file alone", ComposeImage(kTypeSecondOfPair, PatternPayload(10)), IMAGE_NONE,
       "Invalid Second file"},
      {"second file after a single", ComposeImage(kTypeSecondOfPair, PatternPayload(10)),
       IMAGE_SINGLE, "Invalid Second file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ImageKind kind = c.kindBefore;
    UpgradeImage image;
    const ImageCheck check = Load(dir_.WriteBytes("case.uuc", c.bytes), kind, image);
    EXPECT_EQ(check.refusal, c.message);
    EXPECT_FALSE(check.typed);
    EXPECT_EQ(kind, c.kindBefore);
    EXPECT_FALSE(image.payload);
  }
}

TEST_F(ImageTest, PacketCountIsKnownBeforeTheTypeCodeIsRefused) {
  ImageKind kind = IMAGE_NONE;
  UpgradeImage image;
  const auto path = dir_.WriteBytes("b.u02", ComposeImage(kTypeSecondOfPair, PatternPayload(5000)));
  const ImageCheck check = Load(path, kind, image);
  EXPECT_EQ(check.refusal, "Invalid Second file");
  EXPECT_TRUE(check.sized);
  EXPECT_FALSE(check.typed);
  EXPECT_EQ(check.packets(), 5u);
}

TEST_F(ImageTest, ShortPayloadReadIsRefusedAfterTheTypeCodeTookEffect) {
  const auto bytes = ComposeImage(kTypeFirstOfPair, PatternPayload(3000));
  ShortReadFile file(bytes, 64 + 2000);
  ImageKind kind = IMAGE_NONE;
  UpgradeImage image;
  const ImageCheck check = LoadImage(file, kind, image);
  EXPECT_EQ(check.refusal, "_lread Error!");
  EXPECT_TRUE(check.typed);
  EXPECT_EQ(kind, IMAGE_FIRST);
  EXPECT_FALSE(image.payload);
}

TEST_F(ImageTest, SizesEstimatesAndRanges) {
  struct Case {
    std::uint32_t size;
    int packets;
    const char* estimate;
  };
  const Case cases[] = {
      {0, 1, "00:02"},
      {1000000, 980, "02:01"},
      {1021, 2, "00:02"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    const auto payload = PatternPayload(c.size);
    const auto path = dir_.WriteBytes("s.uuc", ComposeImage(kTypeSingle, payload));
    ImageKind kind = IMAGE_NONE;
    UpgradeImage image;
    const ImageCheck check = Load(path, kind, image);
    ASSERT_TRUE(check.loads()) << check.refusal;
    EXPECT_EQ(kind, IMAGE_SINGLE);
    EXPECT_EQ(image.payloadSize, c.size);
    EXPECT_EQ(image.lastPacketIndex, static_cast<std::uint32_t>(c.packets - 1));
    EXPECT_EQ(check.packets(), static_cast<std::uint32_t>(c.packets));
    EXPECT_EQ(FormatMinutesSeconds(EstimateSeconds(check.payloadSize, check.lastPacketIndex)),
              c.estimate);
    ASSERT_TRUE(image.payload);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), image.payload.get()));
    const auto bytes = ComposeImage(kTypeSingle, payload);
    EXPECT_TRUE(std::equal(image.header.begin(), image.header.end(), bytes.begin()));
  }
}

TEST_F(ImageTest, EstimateMinutesAreNotCapped) {
  EXPECT_EQ(FormatMinutesSeconds(121), "02:01");
  EXPECT_EQ(FormatMinutesSeconds(6000), "100:00");
  // Near 4 GiB the formula's sum no longer fits 32 bits: 4206628 packets after the first,
  // (4294967295 + 1261988400 + 64) / 14400 = 385899, plus 65535 * 2 + 2.
  EXPECT_EQ(LastPacketIndex(0xFFFFFFFFu), 4206628u);
  EXPECT_EQ(EstimateSeconds(0xFFFFFFFFu, 4206628u), 516971u);
  EXPECT_EQ(FormatMinutesSeconds(516971u), "8616:11");
}

TEST_F(ImageTest, FileLongerThan4GiBCannotMatchAWrappedSize) {
  // 2^32 + 3064 bytes: its length taken in 32 bits would match the size field 3000.
  const auto path = dir_.WriteBytes("huge.uuc", ComposeImage(kTypeSingle, PatternPayload(3000)));
  if (::truncate(path.c_str(), (1ll << 32) + 3064) != 0) GTEST_SKIP() << "no sparse files here";
  ImageKind kind = IMAGE_NONE;
  UpgradeImage image;
  EXPECT_EQ(Load(path, kind, image).refusal, "Invalid file size: check main.auc");
}

TEST_F(ImageTest, PayloadThatCannotBeAllocatedIsRefusedWithMallocError) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "sanitizers reserve more address space than the limit this test sets";
#else
  // A sparse 2 GiB image, loaded in a child whose address space is capped at 1 GiB.
  auto bytes = ComposeImage(kTypeSingle, {});
  WriteLe32(bytes.data() + kSizeOffset, 0x80000000u);
  const auto path = dir_.WriteBytes("big.uuc", bytes);
  ASSERT_EQ(::truncate(path.c_str(), 0x80000000ll + 64), 0);
  const test::ChildResult child = test::RunInChild([&](std::string& message) {
    const rlimit cap{1ull << 30, 1ull << 30};
    if (::setrlimit(RLIMIT_AS, &cap) != 0) return 2;
    ImageFile file;
    if (!file.Open(path, nullptr)) return 3;
    ImageKind kind = IMAGE_NONE;
    UpgradeImage image;
    const ImageCheck check = LoadImage(file, kind, image);
    message = check.refusal;
    return check.loads() ? 1 : 0;
  });
  ASSERT_TRUE(child.exited);
  EXPECT_EQ(child.code, 0);
  EXPECT_EQ(child.text, "Malloc Error!");
#endif
}

TEST_F(ImageTest, KindFollowsTheTypeCode) {
  struct Case {
    std::uint32_t type;
    ImageKind before, after;
  };
  const Case cases[] = {
      {kTypeSingle, IMAGE_NONE, IMAGE_SINGLE},        {kTypeFirstOfPair, IMAGE_NONE, IMAGE_FIRST},
      {kTypeSecondOfPair, IMAGE_FIRST, IMAGE_SECOND}, {kTypeFirstOfPair, IMAGE_FIRST, IMAGE_FIRST},
      {0x12345678, IMAGE_NONE, IMAGE_NONE},           {0x12345678, IMAGE_FIRST, IMAGE_FIRST},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    ImageKind kind = c.before;
    UpgradeImage image;
    ASSERT_TRUE(
        Load(dir_.WriteBytes("k.uuc", ComposeImage(c.type, PatternPayload(100))), kind, image)
            .loads());
    EXPECT_EQ(kind, c.after);
  }
}

TEST_F(ImageTest, OnlyRegularFilesOpen) {
  ASSERT_EQ(::mkfifo((dir_.path() / "fifo.uuc").c_str(), 0600), 0);
  std::filesystem::create_directory(dir_.path() / "folder.uuc");
  struct Case {
    std::string path;
    const char* fragment;
  };
  const Case cases[] = {
      {(dir_.path() / "missing.uuc").string(), "No such file"},
      {(dir_.path() / "folder.uuc").string(), "is a folder"},
      {(dir_.path() / "fifo.uuc").string(), "not a regular file"},
      {"/dev/null", "not a regular file"},
      {"", "no file name"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    ImageFile file;
    std::string why;
    EXPECT_FALSE(file.Open(c.path, &why));
    EXPECT_NE(why.find(c.fragment), std::string::npos) << why;
  }
}

TEST_F(ImageTest, InspectionAgreesWithTheLoad) {
  const auto path = dir_.WriteBytes("p.u01", ComposeImage(kTypeFirstOfPair, PatternPayload(2042)));
  ImageFile file;
  ASSERT_TRUE(file.Open(path, nullptr));
  const ImageCheck seen = InspectImage(file, IMAGE_NONE);
  EXPECT_TRUE(seen.loads());
  EXPECT_EQ(seen.kindAfterLoad, IMAGE_FIRST);
  EXPECT_EQ(seen.lastPacketIndex, 2u);
  EXPECT_EQ(seen.fileLength, 2042u + 64);

  ImageFile second;
  ASSERT_TRUE(second.Open(dir_.WriteBytes("q.u02", ComposeImage(kTypeSecondOfPair, {})), nullptr));
  const ImageCheck alone = InspectImage(second, IMAGE_NONE);
  EXPECT_FALSE(alone.loads());
  EXPECT_EQ(alone.refusal, "Invalid Second file");
}

}  // namespace
}  // namespace irdload
