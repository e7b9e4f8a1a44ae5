// The bar for a keyboard: the showing's shortcut grabbed on the root window, the focus that the
// shortcut gives the bar, and what the keys do while the bar has it (Return and space stop, Left
// and Right move the bar, Escape gives the focus back). All on the UI thread, and nothing of it
// in a showing without a shortcut: no grab, no other event mask, no line.
//
// The bar is override-redirect, so no window manager ever gives it the focus or takes it away:
// it takes the focus itself on the shortcut, remembers who had it, and gives it back. Another
// client that takes the focus meanwhile (a click on a managed window) ends the focus here too.
#include <X11/XKBlib.h>
#include <X11/Xproto.h>
#include <X11/keysym.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>

#include "DisplayScale.h"
#include "EventLoopState.h"
#include "FocusRing.h"
#include "NativeUIController.h"

namespace NativeUI {

namespace {

struct ModifierMapDeleter {
  void operator()(XModifierKeymap* map) const { XFreeModifiermap(map); }
};

// The modifier bit that Num_Lock sets on this server (Mod2 on most), 0 when no modifier holds it.
unsigned int numLockMask(Display* display) {
  const KeyCode numLock = XKeysymToKeycode(display, XK_Num_Lock);
  const std::unique_ptr<XModifierKeymap, ModifierMapDeleter> map(XGetModifierMapping(display));
  if (numLock == 0 || !map) return 0;
  for (int modifier = 0; modifier < 8; ++modifier) {
    for (int i = 0; i < map->max_keypermod; ++i) {
      if (map->modifiermap[modifier * map->max_keypermod + i] == numLock) return 1u << modifier;
    }
  }
  return 0;
}

// A grab that another client holds is refused with BadAccess, reported asynchronously: this
// handler, installed around the grabs and their round trip, notes it; any other error goes to
// the showing's suppressor as before.
std::atomic<bool> sGrabRefused{false};

int onGrabError(Display* display, XErrorEvent* event) {
  if (event->error_code == BadAccess && event->request_code == X_GrabKey) {
    sGrabRefused.store(true);
    return 0;
  }
  return XErrorSuppressor::ErrorHandler(display, event);
}

class GrabErrorCatcher {
 public:
  explicit GrabErrorCatcher(Display* display) : _display(display) {
    XSync(_display, False);  // earlier requests' errors go to the handler in force before
    sGrabRefused.store(false);
    _previous = XSetErrorHandler(&onGrabError);
  }
  ~GrabErrorCatcher() {
    XSync(_display, False);  // the grabs' errors must reach onGrabError first
    XSetErrorHandler(_previous);
  }
  GrabErrorCatcher(const GrabErrorCatcher&) = delete;
  GrabErrorCatcher& operator=(const GrabErrorCatcher&) = delete;

 private:
  Display* _display;
  XErrorHandler _previous;
};

// The lock states a grab must hold in: none, CapsLock, NumLock, both.
std::array<unsigned int, 4> lockCombinations(unsigned int numLock) {
  return {0u, static_cast<unsigned int>(LockMask), numLock, LockMask | numLock};
}

}  // namespace

void NativeUIController::setShortcut(std::optional<Accelerator> shortcut, const std::string& text) {
  _shortcut = shortcut;
  _shortcutText = shortcut ? text : std::string();
}

// Before the windows are mapped, so that a shown bar answers its shortcut at once.
void NativeUIController::grabShortcut() {
  _grabbedKey = 0;
  _barFocused = false;
  _focusReturn = 0;
  if (!_buildShortcut) return;
  Display* display = _display.get();
  XWindowAttributes attributes{};
  if (XGetWindowAttributes(display, _controlBarWindow, &attributes)) {
    XSelectInput(display, _controlBarWindow,
                 attributes.your_event_mask | KeyPressMask | FocusChangeMask);
  }
  const KeyCode key = XKeysymToKeycode(display, _buildShortcut->keysym);
  unsigned int modifiers = _buildShortcut->modifiers;
  if (key != 0 && XkbKeycodeToKeysym(display, key, 0, 0) != _buildShortcut->keysym &&
      XkbKeycodeToKeysym(display, key, 0, 1) == _buildShortcut->keysym) {
    modifiers |= ShiftMask;  // "!" is Shift+1 on this keyboard
  }
  _numLockMask = numLockMask(display);
  if (key == 0) {
    callback()->onLog(LogType::Warn, "The shortcut %s has no key on this keyboard",
                      _buildShortcutText.c_str());
  } else if (!grabShortcutKey(key, modifiers)) {
    callback()->onLog(LogType::Warn, "The shortcut %s is taken by another client",
                      _buildShortcutText.c_str());
  } else {
    return;
  }
  ShowingEvent taken;
  taken.kind = ShowingEvent::Kind::ShortcutTaken;
  taken.showing = _showing;
  taken.line = _buildShortcutText.c_str();
  callback()->onShowingEvent(taken);
}

// All four lock combinations or none: a shortcut that works only with NumLock off is a fault
// that a user cannot see.
bool NativeUIController::grabShortcutKey(KeyCode key, unsigned int modifiers) {
  Display* display = _display.get();
  {
    const GrabErrorCatcher catcher(display);
    for (const unsigned int locks : lockCombinations(_numLockMask)) {
      XGrabKey(display, key, modifiers | locks, _rootWindow, False, GrabModeAsync, GrabModeAsync);
    }
  }
  _grabbedKey = key;
  _grabbedModifiers = modifiers;
  if (!sGrabRefused.load()) return true;
  // Those of the four that were granted: ungrabbing one that another client holds does nothing.
  releaseShortcut();
  return false;
}

// At the end of the showing; the focus goes back to where it was.
void NativeUIController::releaseShortcut() {
  if (_barFocused) {
    giveFocusBack();
    XFlush(_display.get());
  }
  if (_grabbedKey == 0) return;
  for (const unsigned int locks : lockCombinations(_numLockMask)) {
    XUngrabKey(_display.get(), _grabbedKey, _grabbedModifiers | locks, _rootWindow);
  }
  _grabbedKey = 0;
  XFlush(_display.get());  // the connection may stay idle until the next showing
}

void NativeUIController::onKeyPress(const XEvent& event, LoopState&) {
  const XKeyEvent& key = event.xkey;
  // Only the shortcut's grab reports keys on the root to us.
  if (key.window == _rootWindow) {
    if (_grabbedKey != 0 && key.keycode == _grabbedKey) takeFocus();
    return;
  }
  if (!_barFocused || key.window != _controlBarWindow) return;
  XKeyEvent copy = key;
  switch (XLookupKeysym(&copy, 0)) {
    case XK_Return:
    case XK_KP_Enter:
    case XK_space:
      reportStop(StopSource::Keyboard);
      break;
    case XK_Left:
    case XK_KP_Left:
      nudgeBar(-1);
      break;
    case XK_Right:
    case XK_KP_Right:
      nudgeBar(1);
      break;
    case XK_Escape:
      giveFocusBack();
      break;
    default:
      break;
  }
}

// Another client took the focus (a click on its window): it keeps it. Grabs (our own shortcut
// pressed again among them) only lend the keyboard for a while, and the focus that our own
// teardown takes from the bar goes back where it was at the end of the showing.
void NativeUIController::onFocusOut(const XEvent& event, LoopState&) {
  const XFocusChangeEvent& change = event.xfocus;
  if (!_barFocused || change.window != _controlBarWindow || _barDestroyed) return;
  if (change.mode == NotifyGrab || change.mode == NotifyUngrab) return;
  if (change.detail == NotifyInferior || change.detail == NotifyPointer) return;
  _barFocused = false;
  _focusReturn = 0;
  clearFocusRing();
  updateAccessible();
}

void NativeUIController::takeFocus() {
  if (_barFocused || _controlBarWindow == 0) return;
  Display* display = _display.get();
  int revert = 0;
  XGetInputFocus(display, &_focusReturn, &revert);
  XSetInputFocus(display, _controlBarWindow, RevertToPointerRoot, CurrentTime);
  _barFocused = true;
  for (WindowOrder order :
       {WindowOrder::StopIcon, WindowOrder::StopSharingText, WindowOrder::RightDragHandle}) {
    drawFocusRing(childWindow(order));
  }
  updateAccessible();
}

// To the window that had the focus, when it is still there to take it; else to whatever lies
// under the pointer, as with no focus at all.
void NativeUIController::giveFocusBack() {
  Display* display = _display.get();
  _barFocused = false;
  clearFocusRing();
  Window target = _focusReturn;
  _focusReturn = 0;
  if (target != None && target != PointerRoot) {
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, target, &attributes) || attributes.map_state != IsViewable) {
      target = PointerRoot;
    }
  }
  XSetInputFocus(display, target == None ? PointerRoot : target, RevertToPointerRoot, CurrentTime);
  updateAccessible();
}

// The same clamps as a drag; a step that would leave the monitor stops at its edge.
void NativeUIController::nudgeBar(int direction) {
  const int32_t x = clampBarX(currentBarX() + direction * keyboardStep(_scale));
  XMoveWindow(_display.get(), _controlBarWindow, x, barY());
  _barX = x;
  _barDragged = true;
  updateAccessible();
}

// Around the stop square and the stop text together: the left edge in the square's padding, the
// right edge in the right grip's, so that no line crosses the text.
void NativeUIController::drawFocusRing(Window window) {
  if (!_barFocused || window == 0) return;
  const auto order = _windowOrders.find(window);
  if (order == _windowOrders.end()) return;
  Display* display = _display.get();
  const int width = focusRingWidth(_scale);
  XGCValues values{};
  values.foreground = kFocusRingColour;
  const GcHolder gc(display, XCreateGC(display, window, GCForeground, &values));
  const XRectangle& rect = _childWindows[order->second]->rect();
  const unsigned int line = static_cast<unsigned int>(width);
  if (order->second == WindowOrder::RightDragHandle) {
    XFillRectangle(display, window, gc.get(), 0, 0, line, rect.height);
    return;
  }
  XFillRectangle(display, window, gc.get(), 0, 0, rect.width, line);
  XFillRectangle(display, window, gc.get(), 0, rect.height - width, rect.width, line);
  if (order->second == WindowOrder::StopIcon) {
    XFillRectangle(display, window, gc.get(), 0, 0, line, rect.height);
  }
}

// Each window exposed anew draws itself without the ring.
void NativeUIController::clearFocusRing() {
  for (WindowOrder order :
       {WindowOrder::StopIcon, WindowOrder::StopSharingText, WindowOrder::RightDragHandle}) {
    if (const Window window = childWindow(order)) {
      XClearArea(_display.get(), window, 0, 0, 0, 0, True);
    }
  }
}

// UI thread: the showing number is this thread's. The accessibility bus's thread makes the same
// two reports with the number it was started with (Accessibility.cpp).
void NativeUIController::reportStop(StopSource source) {
  ShowingEvent stop;
  stop.kind = ShowingEvent::Kind::Stop;
  stop.showing = _showing;
  stop.source = source;
  callback()->onShowingEvent(stop);
  callback()->onStopScreenShareClicked();
}

}  // namespace NativeUI
