/* A pointer and a keyboard for tests under a wlroots compositor, which offers neither without
 * input devices: a client of the wlr virtual-pointer and virtual-keyboard protocols that plays
 * its arguments in order.
 *
 *   vpointer WxH     W and H: the extent of the output layout the positions are in; then one
 *                    line of actions at a time on standard input, answered "ok" once played:
 *     move X Y       absolute motion to X,Y
 *     down | up | click  the left button pressed, released, or both
 *     wait MS        a pause, e.g. between a press and the motion of a drag
 *     keyboard       a keyboard with the default xkb keymap plugged in: the seat has none before
 *     key CODE       the key of evdev code CODE pressed and released (28 Return, 1 Escape,
 *                    105 Left, 106 Right), on that keyboard
 *
 * Every action is a frame of its own, and waits for the compositor to have taken it (a round
 * trip). One pointer for the whole input: sway 1.7 sometimes crashes when a virtual pointer goes
 * away right after it came. Ends at end of input; exit status 0 on success, 1 on any failure.
 * WAYLAND_DISPLAY names the compositor.
 */
#define _GNU_SOURCE /* memfd_create */
#include <linux/input-event-codes.h>
#include <stdio.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xkbcommon/xkbcommon.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <wayland-client.h>

#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

struct globals {
  struct wl_seat *seat;
  struct zwlr_virtual_pointer_manager_v1 *manager;
  struct zwp_virtual_keyboard_manager_v1 *keyboards;
  struct zwp_virtual_keyboard_v1 *keyboard;
};

static void onGlobal(void *data, struct wl_registry *registry, uint32_t name,
                     const char *interface, uint32_t version) {
  struct globals *globals = data;
  (void)version;
  if (strcmp(interface, wl_seat_interface.name) == 0 && !globals->seat) {
    globals->seat = wl_registry_bind(registry, name, &wl_seat_interface, 1);
  } else if (strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
    globals->manager =
        wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface, 1);
  } else if (strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
    globals->keyboards =
        wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1);
  }
}

static void onGlobalRemove(void *data, struct wl_registry *registry, uint32_t name) {
  (void)data, (void)registry, (void)name;
}

static const struct wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

static uint32_t now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (uint32_t)(t.tv_sec * 1000 + t.tv_nsec / 1000000);
}

static void button(struct zwlr_virtual_pointer_v1 *pointer, enum wl_pointer_button_state state) {
  zwlr_virtual_pointer_v1_button(pointer, now(), BTN_LEFT, state);
  zwlr_virtual_pointer_v1_frame(pointer);
}

/* The default keymap of xkbcommon, handed over in a memfd as the protocol wants it. */
static struct zwp_virtual_keyboard_v1 *makeKeyboard(struct globals *globals) {
  if (globals->keyboard || !globals->keyboards) return globals->keyboard;
  struct xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
  struct xkb_rule_names names = {0};
  struct xkb_keymap *keymap = context ? xkb_keymap_new_from_names(context, &names, 0) : NULL;
  char *text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : NULL;
  const int fd = memfd_create("keymap", MFD_CLOEXEC);
  const size_t size = text ? strlen(text) + 1 : 0;
  if (text && fd >= 0 && write(fd, text, size) == (ssize_t)size) {
    globals->keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals->keyboards, globals->seat);
    zwp_virtual_keyboard_v1_keymap(globals->keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   (uint32_t)size);
  }
  if (fd >= 0) close(fd);
  free(text);
  xkb_keymap_unref(keymap);
  xkb_context_unref(context);
  return globals->keyboard;
}

static int key(struct globals *globals, uint32_t code) {
  struct zwp_virtual_keyboard_v1 *keyboard = makeKeyboard(globals);
  if (!keyboard) return 1;
  zwp_virtual_keyboard_v1_key(keyboard, now(), code, WL_KEYBOARD_KEY_STATE_PRESSED);
  zwp_virtual_keyboard_v1_key(keyboard, now(), code, WL_KEYBOARD_KEY_STATE_RELEASED);
  return 0;
}

static int play(struct wl_display *display, struct globals *globals,
                struct zwlr_virtual_pointer_v1 *pointer, unsigned width, unsigned height,
                int argc, char **argv) {
  if (argc == 0) return 0;
  for (int i = 0; i < argc; ++i) {
    if (strcmp(argv[i], "move") == 0 && i + 2 < argc) {
      zwlr_virtual_pointer_v1_motion_absolute(pointer, now(), (uint32_t)atoi(argv[i + 1]),
                                              (uint32_t)atoi(argv[i + 2]), width, height);
      zwlr_virtual_pointer_v1_frame(pointer);
      i += 2;
    } else if (strcmp(argv[i], "down") == 0 || strcmp(argv[i], "click") == 0) {
      button(pointer, WL_POINTER_BUTTON_STATE_PRESSED);
      if (argv[i][0] == 'c') button(pointer, WL_POINTER_BUTTON_STATE_RELEASED);
    } else if (strcmp(argv[i], "up") == 0) {
      button(pointer, WL_POINTER_BUTTON_STATE_RELEASED);
    } else if (strcmp(argv[i], "wait") == 0 && i + 1 < argc) {
      const long ms = atol(argv[++i]);
      nanosleep(&(struct timespec){ms / 1000, (ms % 1000) * 1000000}, NULL);
    } else if (strcmp(argv[i], "keyboard") == 0) {
      if (!makeKeyboard(globals)) return 1;
    } else if (strcmp(argv[i], "key") == 0 && i + 1 < argc) {
      if (key(globals, (uint32_t)atoi(argv[++i])) != 0) return 1;
    } else {
      fprintf(stderr, "vpointer: bad action %s\n", argv[i]);
      return 1;
    }
    if (wl_display_roundtrip(display) < 0) return 1;
  }
  return 0;
}

int main(int argc, char **argv) {
  unsigned width = 0, height = 0;
  if (argc != 2 || sscanf(argv[1], "%ux%u", &width, &height) != 2) {
    fprintf(stderr, "usage: vpointer WxH < lines of: move X Y | down | up | click | wait MS | keyboard | key CODE\n");
    return 1;
  }
  struct wl_display *display = wl_display_connect(NULL);
  if (!display) {
    fprintf(stderr, "vpointer: cannot connect to the compositor\n");
    return 1;
  }
  struct globals globals = {0};
  struct wl_registry *registry = wl_display_get_registry(display);
  wl_registry_add_listener(registry, &registryListener, &globals);
  wl_display_roundtrip(display);
  int status = 1;
  if (globals.manager && globals.seat) {
    struct zwlr_virtual_pointer_v1 *pointer =
        zwlr_virtual_pointer_manager_v1_create_virtual_pointer(globals.manager, globals.seat);
    char line[1024];
    status = 0;
    while (status == 0 && fgets(line, sizeof line, stdin)) {
      char *words[64];
      int count = 0;
      for (char *word = strtok(line, " \t\n"); word && count < 64; word = strtok(NULL, " \t\n")) {
        words[count++] = word;
      }
      status = play(display, &globals, pointer, width, height, count, words);
      printf("%s\n", status == 0 ? "ok" : "failed");
      fflush(stdout);
    }
    zwlr_virtual_pointer_v1_destroy(pointer);
    if (globals.keyboard) zwp_virtual_keyboard_v1_destroy(globals.keyboard);
  } else {
    fprintf(stderr, "vpointer: the compositor offers no virtual pointer\n");
  }
  if (globals.manager) zwlr_virtual_pointer_manager_v1_destroy(globals.manager);
  if (globals.keyboards) zwp_virtual_keyboard_manager_v1_destroy(globals.keyboards);
  if (globals.seat) wl_seat_destroy(globals.seat);
  wl_registry_destroy(registry);
  wl_display_roundtrip(display);  // the destruction reaches the compositor before we go
  wl_display_disconnect(display);
  return status;
}
