// The bar's side of its presence on the accessibility bus: where the bus is published on X, and
// what the bus shows of the bar, read from the bar itself or, for a backend's showing, from where
// it last placed its bar. The bus work is the accessibility module's (src/accessibility), on its
// own thread; here nothing waits for it.
#include <X11/Xatom.h>

#include <string>

#include "AccessibleIndicator.h"
#include "NativeUIController.h"
#include "X11Utils.h"

namespace NativeUI {

namespace {

// The address that the accessibility bus's launcher publishes on the root; empty without one.
std::string rootBusAddress(Display* display, Window root) {
  if (display == nullptr || root == None) return "";  // a backend's showing: no X root of its own
  const Atom property = XInternAtom(display, "AT_SPI_BUS", True);
  if (property == None) return "";
  unsigned long items = 0;
  const XPtr<unsigned char> value =
      readProperty(display, root, property, XA_STRING, 8, 1024, items);
  return value ? std::string(reinterpret_cast<const char*>(value.get()), items) : "";
}

const ChildWinInfo* rowOf(const std::array<ChildWinInfo, kChildWindowCount>& rows,
                          WindowOrder order) {
  for (const ChildWinInfo& row : rows) {
    if (row.order == order) return &row;
  }
  return nullptr;
}

std::string textOf(const ChildWinInfo* row) {
  if (row == nullptr) return "";
  return row->customText.empty() ? row->text : row->customText;
}

Accessibility::Extents extentsOf(const NativeChildWindow* child, int32_t barX, int32_t barY) {
  if (child == nullptr) return {};
  const XRectangle& rect = child->rect();
  return {barX + rect.x, barY + rect.y, rect.width, rect.height};
}

}  // namespace

// After the shown report: the bus is looked for on the module's thread, and never delays it.
void NativeUIController::startAccessible() {
  const uint64_t showing = _showing;
  auto press = [this, showing] {
    ShowingEvent stop;
    stop.kind = ShowingEvent::Kind::Stop;
    stop.showing = showing;
    stop.source = StopSource::Accessibility;
    callback()->onShowingEvent(stop);
    callback()->onStopScreenShareClicked();
  };
  auto warn = [this](const std::string& line) {
    callback()->onLog(LogType::Warn, "%s", line.c_str());
  };
  _accessible = Accessibility::AccessibleIndicator::start(
      accessibleState(), rootBusAddress(_display.get(), _rootWindow), press, warn);
}

// The texts as the caller gave them (not as shortened to fit), the extents as they are on the
// server now.
Accessibility::IndicatorState NativeUIController::accessibleState() const {
  Accessibility::IndicatorState state;
  state.notice = textOf(rowOf(_rows, WindowOrder::SharingText));
  state.stopText = textOf(rowOf(_rows, WindowOrder::StopSharingText));
  if (_backendBar) {
    state.window = _backendBar->bar;
    state.label = _backendBar->notice;
    state.button = _backendBar->stop;
    state.buttonFocused = _backendBar->focused;
    return state;
  }
  const int32_t x = currentBarX();
  const int32_t y = barY();
  state.window = {x, y, _barWidth, _barHeight};
  const auto child = [this](WindowOrder order) -> const NativeChildWindow* {
    const auto found = _childWindows.find(order);
    return found == _childWindows.end() ? nullptr : found->second.get();
  };
  state.label = extentsOf(child(WindowOrder::SharingText), x, y);
  state.button = extentsOf(child(WindowOrder::StopSharingText), x, y);
  state.buttonFocused = _barFocused;
  return state;
}

void NativeUIController::updateAccessible() {
  if (_accessible) _accessible->update(accessibleState());
}

void NativeUIController::stopAccessible() { _accessible.reset(); }

}  // namespace NativeUI
