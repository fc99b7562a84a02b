#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Sha256.h"

namespace irdload {
namespace {

TEST(Sha256Test, KnownDigests) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      // 56 bytes: the length no longer fits the first block's tail.
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.input.substr(0, 20));
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.input.data());
    EXPECT_EQ(ToHex(Sha256Of(bytes, c.input.size())), c.digest);
    // Fed in uneven pieces, the digest is the same.
    Sha256 pieces;
    for (std::size_t at = 0, step = 1; at < c.input.size(); at += step, step = step % 97 + 1) {
      pieces.Update(bytes + at, std::min(step, c.input.size() - at));
    }
    EXPECT_EQ(ToHex(pieces.Final()), c.digest);
  }
}

}  // namespace
}  // namespace irdload
