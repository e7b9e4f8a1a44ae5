// The name of the Linux distribution, for the choice of font and the diagnostic line beside it.
// Four sources are tried in order and only the first line of each is read; the first source that
// has one decides, and the answer is kept for the life of the process.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "X11Utils.h"
#include "XHandles.h"

namespace NativeUI {

namespace {

bool linux_distribution_read = false;
std::string linux_distribution_name;

const detail::DistributionSources kSystemSources{"", "/usr/bin/lsb_release -d -s 2>/dev/null"};

constexpr int kFileLineBuffer = 120;
constexpr int kCommandLineBuffer = 128;
constexpr size_t kMaxRedHatName = 64;
const std::string kRelease = "release ";

// Empty when nothing could be read. The stream is the caller's to close.
std::string firstLine(FILE* stream, int bufferSize) {
  std::string buffer(static_cast<size_t>(bufferSize), '\0');
  if (!fgets(&buffer[0], bufferSize, stream)) return {};
  return std::string(buffer.c_str());
}

// The stream is closed before the next source is tried, whatever the line was.
std::string firstLineOfFile(const std::string& path) {
  const FilePtr file(fopen(path.c_str(), "r"));
  return file ? firstLine(file.get(), kFileLineBuffer) : std::string();
}

std::string firstLineOfCommand(const std::string& command) {
  const PipePtr pipe(popen(command.c_str(), "r"));
  return pipe ? firstLine(pipe.get(), kCommandLineBuffer) : std::string();
}

// "Fedora release 33 (Thirty Three)" -> "Fedora 33 ": the word "release " goes, the code name
// and everything after it go, the spaces around them stay. A line without a code name ends just
// before its newline, as the other two rules do.
std::string redHatName(const std::string& line) {
  std::string name;
  size_t i = 0;
  while (i < line.size() && name.size() < kMaxRedHatName) {
    if (line.compare(i, kRelease.size(), kRelease) == 0) i += kRelease.size();
    if (i >= line.size() || line[i] == '(' || line[i] == '\n') break;
    name += line[i++];
  }
  return name;
}

// Where a line ends when its first "(" is not its first character: just before the character
// that precedes the "(" (normally a space). npos when there is no such "(".
size_t cutBeforeCodeName(const std::string& line, size_t length) {
  const size_t paren = line.find('(');
  return paren != std::string::npos && paren > 0 && paren < length ? paren - 1 : std::string::npos;
}

// "SUSE Linux Enterprise Server 11 (x86_64)" -> "SUSE Linux Enterprise Server 11".
std::string suseName(const std::string& line) {
  const size_t cut = cutBeforeCodeName(line, line.size());
  return line.substr(0, cut != std::string::npos ? cut : line.size() - 1);
}

// "Debian GNU/Linux 10 (buster)" -> "Debian GNU/Linux 10"; a description between double quotes
// loses its quotes.
std::string lsbReleaseName(const std::string& line) {
  const size_t start = line[0] == '"' ? 1 : 0;
  size_t end = line.size();
  while (end > 0 && (line[end - 1] == '\n' || line[end - 1] == '"')) --end;
  const size_t cut = cutBeforeCodeName(line, end);
  if (cut != std::string::npos) {
    // A cut before the start of the name (a quote, then the "(") leaves the name whole.
    if (cut >= start) end = cut;
  } else if (end == line.size()) {
    --end;  // nothing trailing was trimmed: the last character goes, as it would be the newline
  }
  return end > start ? line.substr(start, end - start) : std::string();
}

}  // namespace

namespace detail {

std::string detectLinuxOSDistribution(const DistributionSources& sources) {
  const std::string oracle = sources.root + "/etc/oracle-release";
  const std::string redHat =
      access(oracle.c_str(), R_OK) == 0 ? oracle : sources.root + "/etc/redhat-release";
  std::string line = firstLineOfFile(redHat);
  if (!line.empty()) return redHatName(line);

  line = firstLineOfFile(sources.root + "/etc/SuSE-release");
  if (!line.empty()) return suseName(line);

  line = firstLineOfCommand(sources.lsbReleaseCommand);
  if (!line.empty()) return lsbReleaseName(line);

  return "Unknown Linux";
}

std::string cachedLinuxOSDistribution(bool& read, std::string& name,
                                      const DistributionSources& sources) {
  if (!read) {
    name = detectLinuxOSDistribution(sources);
    read = true;
  }
  return name;
}

}  // namespace detail

std::string getLinuxOSDistribution() {
  return detail::cachedLinuxOSDistribution(linux_distribution_read, linux_distribution_name,
                                           kSystemSources);
}

}  // namespace NativeUI
