#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "PortalSession.h"

namespace ombrix {
namespace {

TEST(RestoreTokenPath, StateHomeFirstThenTheHomeFolder) {
  EXPECT_EQ(RestoreTokenPath("/s", "/h"), "/s/ombrix/screencast-token");
  EXPECT_EQ(RestoreTokenPath("relative", "/h"), "/h/.local/state/ombrix/screencast-token");
  EXPECT_EQ(RestoreTokenPath("", "/h"), "/h/.local/state/ombrix/screencast-token");
  EXPECT_EQ(RestoreTokenPath(nullptr, "/h"), "/h/.local/state/ombrix/screencast-token");
  EXPECT_EQ(RestoreTokenPath(nullptr, nullptr), "");
}

class RestoreTokenFile : public testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/ombrix-token-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    root = name;
  }
  void TearDown() override { std::filesystem::remove_all(root); }
  static unsigned Mode(const std::string& path) {
    struct stat s {};
    EXPECT_EQ(stat(path.c_str(), &s), 0) << path;
    return s.st_mode & 07777;
  }
  std::string root;
};

TEST_F(RestoreTokenFile, SavedPrivatelyInNewFoldersAndReadBack) {
  const std::string path = root + "/state/ombrix/screencast-token";
  EXPECT_EQ(LoadRestoreToken(path), "");
  ASSERT_TRUE(SaveRestoreToken(path, "token-1"));
  EXPECT_EQ(LoadRestoreToken(path), "token-1");
  EXPECT_EQ(Mode(path), 0600u);
  EXPECT_EQ(Mode(root + "/state/ombrix"), 0700u);
  EXPECT_FALSE(std::filesystem::exists(path + ".new"));
}

TEST_F(RestoreTokenFile, ReplacingAWiderFileLeavesItPrivate) {
  const std::string path = root + "/screencast-token";
  std::ofstream(path) << "old\n";
  ASSERT_EQ(chmod(path.c_str(), 0644), 0);
  ASSERT_TRUE(SaveRestoreToken(path, "token-2"));
  EXPECT_EQ(LoadRestoreToken(path), "token-2");
  EXPECT_EQ(Mode(path), 0600u);
}

TEST_F(RestoreTokenFile, AFolderThatCannotBeMadeFailsTheSave) {
  // A file where the folder should be: even root cannot make a folder there.
  std::ofstream(root + "/blocker") << "x";
  EXPECT_FALSE(SaveRestoreToken(root + "/blocker/ombrix/screencast-token", "t"));
}

}  // namespace
}  // namespace ombrix
