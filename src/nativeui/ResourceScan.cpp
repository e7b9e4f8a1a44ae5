// Xft.dpi found in a resource database text by one pass over its lines, without building the
// database: Xlib's parser costs about a second per megabyte of some texts and grows faster than
// linearly, and the text is whatever other clients put on the root. A line is read as Xlib's
// resource manager reads it (comments, leading blanks, the name's bindings, the value's escapes),
// and among the entries that match the name "Xft.dpi" and the class "Program.Name" (what
// XGetDefault(display, "Xft", "dpi") asks for) the one that Xlib would pick wins: level by level,
// a component over an elided level, a name over a class over "?", a tight binding over a loose
// one; between equal entries the later line.
#include "ResourceScan.h"

#include <X11/Xresource.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "DisplayScale.h"

namespace NativeUI {

namespace {

constexpr int kLevels = 2;
const char* const kNames[kLevels] = {"Xft", "dpi"};
const char* const kClasses[kLevels] = {"Program", "Name"};

struct Component {
  const char* start;
  size_t length;
  bool loose;  // the binding before it
};

bool isBlank(char c) { return c == ' ' || c == '\t'; }

bool isNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '?';
}

bool equals(const Component& component, const char* word) {
  return component.length == std::char_traits<char>::length(word) &&
         std::char_traits<char>::compare(component.start, word, component.length) == 0;
}

// How well a component matches a level: 3 name, 2 class, 1 "?", 0 not at all.
int kindAt(const Component& component, int level) {
  if (equals(component, kNames[level])) return 3;
  if (equals(component, kClasses[level])) return 2;
  if (component.length == 1 && *component.start == '?') return 1;
  return 0;
}

// The best precedence of components[next..] matched against levels [level, kLevels), each level
// worth 3 bits (kind, then tight binding) with the first level the most significant; -1: no match.
int bestMatch(const Component* components, int count, int next, int level) {
  if (next == count) return level == kLevels ? 0 : -1;
  if (level == kLevels) return -1;
  const int weight = 1 << (3 * (kLevels - 1 - level));
  int best = -1;
  const Component& component = components[next];
  if (const int kind = kindAt(component, level)) {
    const int rest = bestMatch(components, count, next + 1, level + 1);
    if (rest >= 0) best = (kind * 2 + (component.loose ? 0 : 1)) * weight + rest;
  }
  // A loose binding may elide this level, which then counts for nothing.
  if (component.loose) {
    const int rest = bestMatch(components, count, next, level + 1);
    if (rest > best) best = rest;
  }
  return best;
}

// The name at `p`, up to blanks or the colon; false for a line that can never match (a character
// that no name holds, a binding with no component after it, more components than levels).
bool readName(const char*& p, const char* end, Component* components, int& count) {
  count = 0;
  bool loose = false;
  bool bound = false;  // a binding waits for its component
  while (p < end && !isBlank(*p) && *p != ':') {
    if (*p == '.' || *p == '*') {
      loose = loose || *p == '*';
      bound = true;
      ++p;
      continue;
    }
    if (!isNameCharacter(*p)) return false;
    const char* start = p;
    while (p < end && isNameCharacter(*p)) ++p;
    if (count == kLevels) return false;
    components[count++] = Component{start, static_cast<size_t>(p - start), loose};
    loose = false;
    bound = false;
  }
  // Xlib never matches a "?" in the last place.
  const bool questionLast = count > 0 && equals(components[count - 1], "?");
  return count > 0 && !bound && !questionLast;
}

// The value from `p` to the end of its line, escapes decoded: "\n", "\\", three octal digits,
// and a backslash before the newline that continues the value on the next line.
std::string readValue(const char*& p, const char* end) {
  std::string value;
  while (p < end && *p != '\n') {
    if (*p != '\\' || p + 1 == end) {
      value += *p++;
      continue;
    }
    const char next = p[1];
    if (next == '\n') {
      p += 2;
    } else if (next == 'n') {
      value += '\n';
      p += 2;
    } else if (next == '\\') {
      value += '\\';
      p += 2;
    } else if (end - p >= 4 && next >= '0' && next <= '7' && p[2] >= '0' && p[2] <= '7' &&
               p[3] >= '0' && p[3] <= '7') {
      value += static_cast<char>(((next - '0') << 6) | ((p[2] - '0') << 3) | (p[3] - '0'));
      p += 4;
    } else {
      value += *p++;
    }
  }
  return value;
}

void skipLine(const char*& p, const char* end) {
  while (p < end && *p != '\n') ++p;
}

// A value that is not wanted, continuations included: its next lines are not entries.
void skipValue(const char*& p, const char* end) {
  while (p < end && *p != '\n') p += *p == '\\' && p + 1 < end ? 2 : 1;
}

// Calls entry(components, count, line, p, end) for each line that names a resource, with p at
// its value; the call may read the value (moving p to the end of its line) or leave it.
template <typename Entry>
void scanEntries(const char* resources, Entry entry) {
  const char* p = resources;
  const char* const end = resources + std::char_traits<char>::length(resources);
  while (p < end) {
    const char* const line = p;
    while (p < end && isBlank(*p)) ++p;
    Component components[kLevels];
    int count = 0;
    if (p < end && *p != '!' && *p != '#' && readName(p, end, components, count)) {
      while (p < end && isBlank(*p)) ++p;
      if (p < end && *p == ':') {
        ++p;
        while (p < end && isBlank(*p)) ++p;
        const char* const value = p;
        entry(components, count, line, p, end);
        if (p == value) skipValue(p, end);
      }
    }
    skipLine(p, end);
    if (p < end) ++p;
  }
}

}  // namespace

double dpiFromResources(const char* resources) {
  if (!resources) return 0;
  int best = -1;
  std::string value;
  scanEntries(resources, [&](const Component* components, int count, const char*, const char*& p,
                             const char* end) {
    const int match = bestMatch(components, count, 0, 0);
    if (match < 0 || match < best) return;
    value = readValue(p, end);
    best = match;
  });
  return best >= 0 ? dpiFromValue(value.c_str()) : 0;
}

std::string libraryResourceLines(const char* resources) {
  std::string lines;
  if (!resources) return lines;
  scanEntries(resources, [&](const Component* components, int count, const char* line,
                             const char*& p, const char* end) {
    // Two levels, "Xft.option" or "Xcursor.option": a first component that matches the first
    // level (an entry that elides it has a single component, which can match only the second).
    const Component& first = components[0];
    const bool library = count == 1 ? first.loose
                                    : equals(first, "Xft") || equals(first, "Xcursor") ||
                                          equals(first, "Program") || equals(first, "?");
    if (!library) return;
    skipValue(p, end);
    lines.append(line, p).push_back('\n');
  });
  return lines;
}

// A few kilobytes on a desktop; beyond this Xlib's parse starts to cost the UI thread time.
constexpr size_t kLargeDatabase = 256 * 1024;

XrmDatabasePtr bindLibraryResources(Display* display) {
  const char* const resources = XResourceManagerString(display);
  if (resources == nullptr || std::char_traits<char>::length(resources) <= kLargeDatabase) {
    return nullptr;
  }
  XrmInitialize();
  XrmDatabase database = XrmGetStringDatabase(libraryResourceLines(resources).c_str());
  // As Xlib completes the connection's database: $XENVIRONMENT, else ~/.Xdefaults-<host>.
  std::string file;
  if (const char* environment = std::getenv("XENVIRONMENT")) {
    file = environment;
  } else if (const char* home = std::getenv("HOME")) {
    char host[256] = "";
    gethostname(host, sizeof(host) - 1);
    file = std::string(home) + "/.Xdefaults-" + host;
  }
  if (!file.empty()) XrmCombineFileDatabase(file.c_str(), &database, True);
  XrmSetDatabase(display, database);
  return XrmDatabasePtr(database);
}

}  // namespace NativeUI
