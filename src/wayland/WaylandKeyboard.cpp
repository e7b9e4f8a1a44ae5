#include "WaylandKeyboard.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>

namespace NativeUI {

namespace {

// The keymap's descriptor and its mapping, both gone at the end of the scope.
class MappedKeymap {
 public:
  MappedKeymap(int fd, uint32_t size) : _fd(fd), _size(size) {
    _data = mmap(nullptr, _size, PROT_READ, MAP_PRIVATE, _fd, 0);
  }
  ~MappedKeymap() {
    if (_data != MAP_FAILED) munmap(_data, _size);
    close(_fd);
  }
  MappedKeymap(const MappedKeymap&) = delete;
  MappedKeymap& operator=(const MappedKeymap&) = delete;
  const char* text() const { return _data == MAP_FAILED ? nullptr : static_cast<char*>(_data); }

 private:
  int _fd;
  size_t _size;
  void* _data;
};

// evdev key codes are the keymap's minus 8.
constexpr uint32_t kEvdevOffset = 8;

}  // namespace

struct WaylandKeyboard::Events {
  static WaylandKeyboard& of(void* data) { return *static_cast<WaylandKeyboard*>(data); }
  static void keymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
      close(fd);
      return;
    }
    of(data).loadKeymap(fd, size);
  }
  static void enter(void* data, wl_keyboard*, uint32_t, wl_surface* surface, wl_array*) {
    if (surface) of(data)._focus(surface, true);
  }
  static void leave(void* data, wl_keyboard*, uint32_t, wl_surface* surface) {
    if (surface) of(data)._focus(surface, false);
  }
  static void key(void* data, wl_keyboard*, uint32_t, uint32_t, uint32_t key, uint32_t state) {
    WaylandKeyboard& self = of(data);
    if (state != WL_KEYBOARD_KEY_STATE_PRESSED || !self._state) return;
    const xkb_keysym_t keysym = xkb_state_key_get_one_sym(self._state.get(), key + kEvdevOffset);
    if (keysym != XKB_KEY_NoSymbol) self._key(keysym);
  }
  static void modifiers(void* data, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched,
                        uint32_t locked, uint32_t group) {
    WaylandKeyboard& self = of(data);
    if (self._state)
      xkb_state_update_mask(self._state.get(), depressed, latched, locked, 0, 0, group);
  }
  static void repeatInfo(void*, wl_keyboard*, int32_t, int32_t) {}
};

WaylandKeyboard::WaylandKeyboard(wl_seat* seat, Focus focus, Key key)
    : _focus(std::move(focus)),
      _key(std::move(key)),
      _context(xkb_context_new(XKB_CONTEXT_NO_FLAGS)),
      _keyboard(wl_seat_get_keyboard(seat)) {
  static const wl_keyboard_listener listener = {Events::keymap,    Events::enter,
                                                Events::leave,     Events::key,
                                                Events::modifiers, Events::repeatInfo};
  wl_keyboard_add_listener(_keyboard.get(), &listener, this);
}

// A keymap that cannot be read leaves the keys without meaning, never the showing without a bar.
void WaylandKeyboard::loadKeymap(int fd, uint32_t size) {
  const MappedKeymap mapped(fd, size);
  _state.reset();
  _keymap.reset();
  if (!_context || !mapped.text()) return;
  // The compositor's text ends in a NUL that the size counts.
  _keymap.reset(xkb_keymap_new_from_buffer(_context.get(), mapped.text(),
                                           strnlen(mapped.text(), size), XKB_KEYMAP_FORMAT_TEXT_V1,
                                           XKB_KEYMAP_COMPILE_NO_FLAGS));
  if (_keymap) _state.reset(xkb_state_new(_keymap.get()));
}

}  // namespace NativeUI
