// Replacing the program's files (settings, profiles, reports) keeps the old
// file's owner and mode, follows the running user's own links and never
// writes through anybody else's. The attacks run in a mount namespace of the
// test's own, with tmpfs over /tmp and /run, the attacker as uid 65534.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/FileReplace.h"
#include "platform/linux/LinuxOutputFile.h"
#include "tests/AttackNamespace.h"

namespace tv2 {
namespace {

namespace fs = std::filesystem;

bool g_isolated = false;

std::string readAll(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

struct stat factsOf(const fs::path& path) {
  struct stat facts {};
  EXPECT_EQ(::lstat(path.c_str(), &facts), 0) << path;
  return facts;
}

class FileReplaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder = fs::temp_directory_path() / ("tv2-replace-" + std::to_string(::getpid()));
    fs::remove_all(folder);
    fs::create_directories(folder);
  }
  void TearDown() override { fs::remove_all(folder); }

  fs::path put(const std::string& name, const std::string& text, mode_t mode) {
    const fs::path path = folder / name;
    std::ofstream(path, std::ios::binary) << text;
    EXPECT_EQ(::chmod(path.c_str(), mode), 0);
    return path;
  }

  fs::path folder;
};

TEST_F(FileReplaceTest, TheOldFilesModeIsKeptWithoutSetIdBits) {
  const struct {
    mode_t before, after;
  } cases[] = {{0600, 0600}, {0640, 0640}, {0604, 0604}, {0755, 0755}, {04755, 0755}, {02770, 0770}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.before);
    const fs::path path = put("file.ini", "old", c.before);
    ASSERT_EQ(ReplaceFileContents(path.string(), "new text"), ReplaceOutcome::kReplaced);
    EXPECT_EQ(readAll(path), "new text");
    EXPECT_EQ(factsOf(path).st_mode & 07777, c.after);
    EXPECT_TRUE(RewriteFileInPlace(path.string(), "again"));
    EXPECT_EQ(readAll(path), "again");
    EXPECT_EQ(factsOf(path).st_mode & 07777, c.after);
  }
  // Nothing of the temporary files stays behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(folder), fs::directory_iterator()), 1);
}

TEST_F(FileReplaceTest, TheOldFilesOwnerIsKeptByRoot) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root";
  const fs::path path = put("Tarvelle2.ini", "old", 0600);
  ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  ASSERT_EQ(ReplaceFileContents(path.string(), "root wrote this"), ReplaceOutcome::kReplaced);
  const struct stat facts = factsOf(path);
  EXPECT_EQ(facts.st_uid, 65534u);
  EXPECT_EQ(facts.st_gid, 65534u);
  EXPECT_EQ(facts.st_mode & 07777, 0600u);
  EXPECT_EQ(readAll(path), "root wrote this");
}

TEST_F(FileReplaceTest, OwnLinksAreWrittenThroughAndStayLinks) {
  const fs::path target = put("target.ini", "old", 0640);
  fs::create_directories(folder / "sub");
  fs::create_symlink("../target.ini", folder / "sub" / "relative");  // relative to the link's folder
  fs::create_symlink(folder / "sub" / "relative", folder / "chain");
  for (const char* link : {"sub/relative", "chain"}) {
    SCOPED_TRACE(link);
    const std::string text = std::string("through ") + link;
    ASSERT_EQ(ReplaceFileContents((folder / link).string(), text), ReplaceOutcome::kReplaced);
    EXPECT_TRUE(fs::is_symlink(folder / link));
    EXPECT_EQ(readAll(target), text);
    EXPECT_EQ(factsOf(target).st_mode & 07777, 0640u);
  }
  LinuxOutputFile out;
  ASSERT_TRUE(out.open((folder / "chain").string()));
  size_t written = 0;
  ASSERT_TRUE(out.write("report", &written));
  ASSERT_TRUE(out.close());
  EXPECT_TRUE(fs::is_symlink(folder / "chain"));
  EXPECT_EQ(readAll(target), "report");
  // A link to a folder, or a folder: nothing written anywhere.
  fs::create_symlink(folder / "sub", folder / "to-folder");
  EXPECT_EQ(ReplaceFileContents((folder / "to-folder").string(), "x"), ReplaceOutcome::kFailed);
  EXPECT_EQ(ReplaceFileContents(folder.string(), "x"), ReplaceOutcome::kFailed);
  EXPECT_FALSE(RewriteFileInPlace(folder.string(), "x"));
  EXPECT_TRUE(fs::is_symlink(folder / "to-folder"));
}

// The attacker owns a folder root saves into and plants links there to a
// file of root's; root's saves replace the links, never the file.
class FileReplaceAttackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!g_isolated) GTEST_SKIP() << "needs root, unshare and setpriv";
    ASSERT_TRUE(mountTmpfs("/tmp", "mode=1777") && mountTmpfs("/run", "mode=0755"));
    std::ofstream("/run/secret") << "keep";
    ASSERT_EQ(::chmod("/run/secret", 0600), 0);
  }
  void expectSecretUntouched() {
    EXPECT_EQ(readAll("/run/secret"), "keep");
    const struct stat facts = factsOf("/run/secret");
    EXPECT_EQ(facts.st_uid, 0u);
    EXPECT_EQ(facts.st_mode & 07777, 0600u);
  }
};

TEST_F(FileReplaceAttackTest, AnotherUsersLinkIsReplacedAndItsTargetLeftAlone) {
  ASSERT_EQ(runAsAttacker("mkdir -m 755 /tmp/a && for f in settings profile report stream; do "
                          "ln -s /run/secret /tmp/a/$f; done"),
            0);
  ASSERT_EQ(factsOf("/tmp/a/settings").st_uid, 65534u);
  // Root's own link leading on to the attacker's one stops there.
  fs::create_symlink("/tmp/a/profile", "/run/own-link");

  EXPECT_EQ(ReplaceFileContents("/tmp/a/settings", "settings"), ReplaceOutcome::kReplaced);
  EXPECT_EQ(ReplaceFileContents("/run/own-link", "profile"), ReplaceOutcome::kReplaced);
  EXPECT_FALSE(RewriteFileInPlace("/tmp/a/report", "report"));
  LinuxOutputFile out;
  ASSERT_TRUE(out.open("/tmp/a/stream"));
  size_t written = 0;
  EXPECT_TRUE(out.write("stream", &written));
  EXPECT_TRUE(out.close());

  expectSecretUntouched();
  EXPECT_EQ(readAll("/tmp/a/settings"), "settings");
  EXPECT_EQ(readAll("/tmp/a/profile"), "profile");
  EXPECT_EQ(readAll("/tmp/a/stream"), "stream");
  for (const char* replaced : {"/tmp/a/settings", "/tmp/a/profile", "/tmp/a/stream"}) {
    SCOPED_TRACE(replaced);
    EXPECT_TRUE(S_ISREG(factsOf(replaced).st_mode));
  }
  EXPECT_TRUE(fs::is_symlink("/run/own-link"));
  EXPECT_TRUE(fs::is_symlink("/tmp/a/report"));  // refused, left as it was
}

}  // namespace
}  // namespace tv2

int main(int argc, char** argv) {
  // Without root, unshare or setpriv the attack tests skip.
  if (tv2::InPrivateMountNamespace(argc, argv)) {
    tv2::g_isolated = ::access("/usr/bin/setpriv", X_OK) == 0;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
