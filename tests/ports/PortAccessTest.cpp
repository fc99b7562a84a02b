#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ports/PortAccess.h"
#include "support/FakeTree.h"

namespace irdload {
namespace {

namespace fs = std::filesystem;
using test::FakeTreeTest;
using ::testing::ElementsAre;
using PortAccessTest = FakeTreeTest;

TEST_F(PortAccessTest, IdentityIsTheEffectiveIdsAndGroupsOfTheStatusFile) {
  // Real, effective, saved, filesystem: a set-uid program runs with the second.
  WriteFile(proc_ / "self" / "status",
            "Name:\tx\nUid:\t1000\t0\t0\t0\nGid:\t1000\t5\t5\t5\nGroups:\t20 24 1000 \n");
  const auto who = CurrentIdentity(Roots());
  ASSERT_TRUE(who);
  EXPECT_EQ(who->uid, 0u);
  EXPECT_EQ(who->gid, 5u);
  EXPECT_THAT(who->groups, ElementsAre(20u, 24u, 1000u));

  SetSelf(1000, 1000, {});
  ASSERT_TRUE(CurrentIdentity(Roots()));
  EXPECT_TRUE(CurrentIdentity(Roots())->groups.empty());

  for (const char* broken : {"", "Name:\tx\n", "Uid:\t1000\nGid:\t1000\n"}) {
    SCOPED_TRACE(broken);
    WriteFile(proc_ / "self" / "status", broken);
    EXPECT_FALSE(CurrentIdentity(Roots()));
  }
}

TEST_F(PortAccessTest, GroupNamesAndMembershipComeFromTheAccountFiles) {
  WriteAccounts(
      "root:x:0:0:root:/root:/bin/bash\n"
      "alice:x:1000:1000:Alice:/home/alice:/bin/bash\n"
      "bob:x:1001:20:Bob:/home/bob:/bin/bash\n"
      "broken line\n",
      "root:x:0:\n"
      "dialout:x:20:carol\n"
      "uucp:x:10:alice,dave\n"
      "plugdev:x:46:\n"
      "alice:x:1000:\n");
  EXPECT_EQ(GroupName(20, Roots()), "dialout");
  EXPECT_EQ(GroupName(10, Roots()), "uucp");
  EXPECT_EQ(GroupName(4242, Roots()), "");  // never the real machine's database in a fake tree

  const struct {
    unsigned uid, gid;
    bool member;
  } cases[] = {
      {1000, 10, true},    // listed in the group
      {1000, 1000, true},  // primary group
      {1001, 20, true},    // primary group, not listed
      {1000, 20, false},   // someone else's group
      {1000, 46, false},   // empty member list
      {4242, 20, false},   // no such user
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.uid) + " in " + std::to_string(c.gid));
    EXPECT_EQ(AccountInGroup(c.uid, c.gid, Roots()), c.member);
  }
}

TEST(MayAccessTest, FollowsTheOwnerGroupOtherRule) {
  const NodeOwnership node{0, 20, 0660};  // root:dialout crw-rw----
  const struct {
    const char* label;
    ProcessIdentity who;
    NodeOwnership node;
    bool write;
    bool may;
  } cases[] = {
      {"root", {0, 0, {}}, node, true, true},
      {"group active", {1000, 1000, {24, 20}}, node, true, true},
      {"primary group", {1000, 20, {}}, node, true, true},
      {"not in the group", {1000, 1000, {24}}, node, true, false},
      {"owner without write", {1000, 1000, {}}, {1000, 20, 0460}, true, false},
      {"owner reads", {1000, 1000, {}}, {1000, 20, 0460}, false, true},
      // The owner's bits decide for the owner even where the group's would allow.
      {"owner excluded", {1000, 20, {}}, {1000, 20, 0060}, true, false},
      {"other", {1000, 1000, {}}, {0, 20, 0666}, true, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(MayAccess(c.who, c.node, c.write), c.may);
  }
}

TEST_F(PortAccessTest, OwnershipIsReadThroughLinks) {
  const fs::path node = AddNode("ttyUSB0", fs::perms(0640));
  fs::create_directories(dev_ / "serial" / "by-id");
  fs::create_symlink(node, dev_ / "serial" / "by-id" / "usb-x");
  const auto owned = OwnershipOf(dev_ / "serial" / "by-id" / "usb-x");
  ASSERT_TRUE(owned);
  EXPECT_EQ(owned->mode, 0640u);
  EXPECT_EQ(owned->uid, ::geteuid());
  EXPECT_FALSE(OwnershipOf(dev_ / "ttyUSB9"));
}

}  // namespace
}  // namespace irdload
