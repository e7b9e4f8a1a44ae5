#include "DisplayScale.h"

#include <X11/Xatom.h>
#include <X11/Xresource.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "X11Utils.h"
#include "XHandles.h"

namespace NativeUI {

namespace {

struct XrmDatabaseDeleter {
  void operator()(_XrmHashBucketRec* database) const { XrmDestroyDatabase(database); }
};
using XrmDatabasePtr = std::unique_ptr<_XrmHashBucketRec, XrmDatabaseDeleter>;

// Xft's own reading of a value: the number it starts with.
double positiveNumber(const char* value) {
  char* end = nullptr;
  const double number = std::strtod(value, &end);
  if (end == value || !std::isfinite(number) || number <= 0) return 0;
  return number;
}

// Everything a root window property holds; Xlib reads RESOURCE_MANAGER with this bound too.
constexpr long kWholeProperty = 100000000L;

}  // namespace

double dpiFromResources(const char* resources) {
  if (!resources) return 0;
  XrmInitialize();
  const XrmDatabasePtr database(XrmGetStringDatabase(resources));
  if (!database) return 0;
  char* type = nullptr;
  XrmValue value{};
  // The name and class that XGetDefault(display, "Xft", "dpi") asks for, so that a wildcard
  // entry matches here exactly when it matches for Xft.
  if (!XrmGetResource(database.get(), "Xft.dpi", "Program.Name", &type, &value) || !value.addr) {
    return 0;
  }
  return positiveNumber(value.addr);
}

double readDesktopDpi(Display* display) {
  unsigned long length = 0;
  const XPtr<unsigned char> data = readProperty(
      display, RootWindow(display, 0), XA_RESOURCE_MANAGER, XA_STRING, 8, kWholeProperty, length);
  // Xlib terminates what it returns, whatever the property holds.
  return data ? dpiFromResources(reinterpret_cast<const char*>(data.get())) : 0;
}

double connectionDpi(Display* display) {
  const char* value = XGetDefault(display, "Xft", "dpi");
  return value ? positiveNumber(value) : 0;
}

double clampScale(double scale) {
  if (std::isnan(scale)) return kMinScale;
  if (scale < kMinScale) return kMinScale;
  if (scale > kMaxScale) return kMaxScale;
  return scale;
}

double scaleFromDpi(double dpi) { return dpi > 0 ? clampScale(dpi / kBaseDpi) : kMinScale; }

double effectiveScale(double override, double desktopDpi) {
  if (override != 0 && !std::isnan(override)) return clampScale(override);
  return scaleFromDpi(desktopDpi);
}

int scaledLength(int length, double scale) { return static_cast<int>(std::lround(length * scale)); }

double fontDpiFor(double scale, double xftDpi, bool overridden) {
  const double wanted = kBaseDpi * scale;
  if (xftDpi > 0) return std::fabs(wanted - xftDpi) < 0.5 ? 0 : wanted;
  // Xft goes by the screen's size; on a desktop that publishes no dpi the bar's text has always
  // been drawn that way.
  return !overridden && scale == kMinScale ? 0 : wanted;
}

}  // namespace NativeUI
