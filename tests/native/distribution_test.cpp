// The distribution name, read from release files and an lsb_release stand-in laid out in a
// private directory, never from the machine's own /etc.
#include <dirent.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "X11Utils.h"

using NativeUI::detail::cachedLinuxOSDistribution;
using NativeUI::detail::detectLinuxOSDistribution;
using NativeUI::detail::DistributionSources;

namespace {

int openDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

class Distribution : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/nativeui-distribution-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    root = pattern;
    std::filesystem::create_directories(root + "/etc");
    // popen runs it through the shell, as it runs the real command.
    sources = {root, "cat " + root + "/lsb-output 2>/dev/null"};
  }
  void TearDown() override { std::filesystem::remove_all(root); }

  void write(const std::string& relative, const std::string& content) {
    std::ofstream(root + "/" + relative, std::ios::binary) << content;
  }
  void redHat(const std::string& line) { write("etc/redhat-release", line); }
  void oracle(const std::string& line) { write("etc/oracle-release", line); }
  void suse(const std::string& line) { write("etc/SuSE-release", line); }
  void lsbRelease(const std::string& output) { write("lsb-output", output); }
  std::string detect() { return detectLinuxOSDistribution(sources); }

  std::string root;
  DistributionSources sources;
};

// ---- which source decides

TEST_F(Distribution, OracleReleaseHidesRedHatRelease) {
  oracle("Oracle Linux Server release 8.4 (Core)\n");
  redHat("Red Hat Enterprise Linux release 8.4 (Ootpa)\n");
  EXPECT_EQ(detect(), "Oracle Linux Server 8.4 ");
}

TEST_F(Distribution, EmptyOracleReleaseSkipsRedHatAndGoesToSuSE) {
  oracle("");
  redHat("Red Hat Enterprise Linux release 8.4 (Ootpa)\n");
  suse("SUSE Linux Enterprise Server 11 (x86_64)\nVERSION = 11\n");
  lsbRelease("Debian GNU/Linux 10 (buster)\n");
  EXPECT_EQ(detect(), "SUSE Linux Enterprise Server 11");
}

TEST_F(Distribution, SuSEReleaseDecidesWithoutRedHatFiles) {
  suse("SUSE Linux Enterprise Server 11 (x86_64)\n");
  lsbRelease("Debian GNU/Linux 10 (buster)\n");
  EXPECT_EQ(detect(), "SUSE Linux Enterprise Server 11");
}

TEST_F(Distribution, LsbReleaseDecidesWithoutAnyFile) {
  lsbRelease("Debian GNU/Linux 10 (buster)\n");
  EXPECT_EQ(detect(), "Debian GNU/Linux 10");
}

TEST_F(Distribution, NothingToReadIsUnknownLinux) {
  redHat("");
  suse("");
  lsbRelease("");
  EXPECT_EQ(detect(), "Unknown Linux");
  sources.lsbReleaseCommand = root + "/no-such-command 2>/dev/null";
  EXPECT_EQ(detect(), "Unknown Linux");
}

TEST_F(Distribution, EveryFileAndPipeIsClosed) {
  oracle("");
  suse("");
  lsbRelease("Debian GNU/Linux 10 (buster)\n");
  const int before = openDescriptors();
  EXPECT_EQ(detect(), "Debian GNU/Linux 10");
  EXPECT_EQ(openDescriptors(), before);
}

// ---- the Red Hat-family scan

TEST_F(Distribution, RedHatDropsTheWordReleaseAndTheCodeName) {
  redHat("CentOS Linux release 7.9.2009 (Core)\n");
  EXPECT_EQ(detect(), "CentOS Linux 7.9.2009 ");
  redHat("Fedora release 33 (Thirty Three)\nsecond line (ignored)\n");
  EXPECT_EQ(detect(), "Fedora 33 ");
  redHat("Foo release (Bar)\n");  // the character after the word is still tested for "("
  EXPECT_EQ(detect(), "Foo ");
}

TEST_F(Distribution, RedHatKeepsOtherFormsOfTheWord) {
  redHat("Foo Release 1 (x)\n");
  EXPECT_EQ(detect(), "Foo Release 1 ");
  redHat("Foo releases 2 (x)\n");
  EXPECT_EQ(detect(), "Foo releases 2 ");
  // The character after a removed word is kept without looking for the word again.
  redHat("release release 5 (x)\n");
  EXPECT_EQ(detect(), "release 5 ");
}

TEST_F(Distribution, RedHatNameStopsAtSixtyFourCharacters) {
  const std::string seventy(70, 'n');
  redHat(seventy + " (code)\n");
  EXPECT_EQ(detect(), std::string(64, 'n'));
  // The removed word does not count.
  redHat("release " + seventy + "\n");
  EXPECT_EQ(detect(), std::string(64, 'n'));
}

TEST_F(Distribution, RedHatLineWithoutCodeNameEndsBeforeItsNewline) {
  redHat("Oracle Linux Server release 8.4\n");
  EXPECT_EQ(detect(), "Oracle Linux Server 8.4");
  redHat("AB\n");
  EXPECT_EQ(detect(), "AB");
  redHat("No newline at the end");
  EXPECT_EQ(detect(), "No newline at the end");
}

// ---- SuSE and lsb_release lines

TEST_F(Distribution, SuSELineStartingWithParenthesisLosesOnlyItsLastCharacter) {
  suse("(beta) openSUSE 9\n");
  EXPECT_EQ(detect(), "(beta) openSUSE 9");
  suse("openSUSE 13.1\n");
  EXPECT_EQ(detect(), "openSUSE 13.1");
}

TEST_F(Distribution, LsbReleaseDescriptionLosesItsQuotes) {
  lsbRelease("\"Ubuntu 20.04.1 LTS\"\n");
  EXPECT_EQ(detect(), "Ubuntu 20.04.1 LTS");
  lsbRelease("\"Debian GNU/Linux 10 (buster)\"\n");
  EXPECT_EQ(detect(), "Debian GNU/Linux 10");
  lsbRelease("(x) Foo\n");
  EXPECT_EQ(detect(), "(x) Foo");
  lsbRelease("Arch Linux\nsecond line\n");
  EXPECT_EQ(detect(), "Arch Linux");
}

// ---- the cache

TEST_F(Distribution, FirstAnswerIsKeptWhateverTheSourcesDoLater) {
  bool read = false;
  std::string name;
  lsbRelease("Debian GNU/Linux 10 (buster)\n");
  EXPECT_EQ(cachedLinuxOSDistribution(read, name, sources), "Debian GNU/Linux 10");
  EXPECT_TRUE(read);
  redHat("Fedora release 33 (Thirty Three)\n");
  EXPECT_EQ(cachedLinuxOSDistribution(read, name, sources), "Debian GNU/Linux 10");
}

TEST_F(Distribution, UnknownLinuxIsCachedToo) {
  bool read = false;
  std::string name;
  EXPECT_EQ(cachedLinuxOSDistribution(read, name, sources), "Unknown Linux");
  suse("openSUSE 13.1\n");
  EXPECT_EQ(cachedLinuxOSDistribution(read, name, sources), "Unknown Linux");
}

// The public function reads the machine's own sources, once.
TEST(DistributionOfThisMachine, IsTheDetectionOfTheSystemSources) {
  const std::string expected =
      detectLinuxOSDistribution({"", "/usr/bin/lsb_release -d -s 2>/dev/null"});
  EXPECT_FALSE(expected.empty());
  EXPECT_EQ(NativeUI::getLinuxOSDistribution(), expected);
  EXPECT_EQ(NativeUI::getLinuxOSDistribution(), expected);
}

}  // namespace
