#include "DisplayScale.h"

#include <X11/Xatom.h>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "X11Utils.h"
#include "XHandles.h"

namespace NativeUI {

namespace {

// More than any desktop publishes (a few kilobytes); a bigger database is another client's
// mischief, and even a scan over it would hold the UI thread for a while.
constexpr unsigned long kMostResourceBytes = 16UL << 20;

// RESOURCE_MANAGER's length in bytes, asked for before its contents; 0 when it is missing or not
// a string.
unsigned long resourceBytes(Display* display, Window root) {
  Atom type = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long bytes = 0;
  unsigned char* none = nullptr;
  const int status = XGetWindowProperty(display, root, XA_RESOURCE_MANAGER, 0, 0, False, XA_STRING,
                                        &type, &format, &items, &bytes, &none);
  const XPtr<unsigned char> owned(none);
  return status == Success && type == XA_STRING && format == 8 ? bytes : 0;
}

}  // namespace

double dpiFromValue(const char* value) {
  char* end = nullptr;
  const double number = std::strtod(value, &end);
  if (end == value || !std::isfinite(number) || number <= 0) return 0;
  return number;
}

double readDesktopDpi(Display* display) {
  const Window root = RootWindow(display, 0);
  const unsigned long bytes = resourceBytes(display, root);
  if (bytes == 0 || bytes > kMostResourceBytes) return 0;
  unsigned long length = 0;
  const XPtr<unsigned char> data = readProperty(display, root, XA_RESOURCE_MANAGER, XA_STRING, 8,
                                                static_cast<long>((bytes + 3) / 4), length);
  // Xlib terminates what it returns, whatever the property holds.
  return data ? dpiFromResources(reinterpret_cast<const char*>(data.get())) : 0;
}

double connectionDpi(Display* display) {
  const char* value = XGetDefault(display, "Xft", "dpi");
  return value ? dpiFromValue(value) : 0;
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
