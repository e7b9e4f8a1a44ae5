// The seat's keyboard as one showing sees it: which surface has the keyboard, and the keysyms of
// the keys pressed there, read with the keymap that the compositor sends (xkbcommon). Lives and
// dies on the showing's UI thread; the handlers run there, from the connection's dispatch.
#pragma once

#include <xkbcommon/xkbcommon.h>

#include <functional>
#include <memory>

#include "WaylandHandles.h"

namespace NativeUI {

struct XkbContextDeleter {
  void operator()(xkb_context* context) const { xkb_context_unref(context); }
};
struct XkbKeymapDeleter {
  void operator()(xkb_keymap* keymap) const { xkb_keymap_unref(keymap); }
};
struct XkbStateDeleter {
  void operator()(xkb_state* state) const { xkb_state_unref(state); }
};

class WaylandKeyboard {
 public:
  // surface: the one that entered or left; entered: whether it has the keyboard now.
  using Focus = std::function<void(wl_surface* surface, bool entered)>;
  // A key pressed while one of our surfaces has the keyboard, as its keysym under the current
  // modifiers; none for keys of a keymap that has not come (yet) or cannot be read.
  using Key = std::function<void(xkb_keysym_t keysym)>;

  // Takes the seat's keyboard; the seat must have one and outlive the object.
  WaylandKeyboard(wl_seat* seat, Focus focus, Key key);
  WaylandKeyboard(const WaylandKeyboard&) = delete;
  WaylandKeyboard& operator=(const WaylandKeyboard&) = delete;

 private:
  struct Events;
  void loadKeymap(int fd, uint32_t size);

  Focus _focus;
  Key _key;
  std::unique_ptr<xkb_context, XkbContextDeleter> _context;
  std::unique_ptr<xkb_keymap, XkbKeymapDeleter> _keymap;
  std::unique_ptr<xkb_state, XkbStateDeleter> _state;
  WlKeyboardPtr _keyboard;  // last: goes first, so that no event comes to a half-gone object
};

}  // namespace NativeUI
