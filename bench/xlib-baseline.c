/* The least that a show and a hide of the indicator must cost, in bare Xlib: the baseline that
 * bench/show-hide.js times next to the add-on.
 *
 * show: open a connection, list every CRTC of every screen (XRRGetScreenResources +
 *       XRRGetCrtcInfo), close it; then, on a persistent connection, match the 32-bit TrueColor
 *       visual, create a colormap, create one 400x25 override-redirect window with it, map it and
 *       read events until its MapNotify.
 * hide: a thread sleeping in select() on a pipe and that connection is woken by one byte,
 *       destroys the window, reads events until its DestroyNotify and returns; the caller joins
 *       it.
 *
 * floor: not a baseline but a yardstick: the add-on's own windows (the 1920x1080 frame, the bar
 *       and its five children with their colormaps, shapes, hints and cursors) made, mapped and
 *       destroyed in bare Xlib on the persistent connection, with no monitor listing. What the
 *       server itself spends on these windows; the add-on cannot go below it without changing
 *       them.
 *
 * Driven over standard input, one command a line, answered on standard output:
 *   round CYCLES GAP_MS   -> "show MS MS ..." and "hide MS MS ..." (one sample per cycle)
 *   floor CYCLES GAP_MS   -> the same for the floor
 *   idle SECONDS          -> "idle CPU_MS_PER_SECOND" (shown, nothing happening)
 *   quit
 * The thread is started, and GAP_MS slept, between the timed show and the timed hide.
 */
#define _GNU_SOURCE
#include <X11/Xatom.h>
#include <X11/Xcursor/Xcursor.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/shape.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <time.h>
#include <unistd.h>

static double now_ms(clockid_t clock) {
  struct timespec t;
  clock_gettime(clock, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static void sleep_ms(double ms) {
  struct timespec t = {(time_t)(ms / 1000), (long)((ms - (time_t)(ms / 1000) * 1000) * 1e6)};
  while (nanosleep(&t, &t) != 0) {
  }
}

static void list_crtcs(void) {
  Display* d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "xlib-baseline: cannot open the display\n");
    exit(1);
  }
  for (int s = 0; s < ScreenCount(d); ++s) {
    XRRScreenResources* res = XRRGetScreenResources(d, RootWindow(d, s));
    if (!res) continue;
    for (int i = 0; i < res->ncrtc; ++i) {
      XRRCrtcInfo* crtc = XRRGetCrtcInfo(d, res, res->crtcs[i]);
      if (crtc) XRRFreeCrtcInfo(crtc);
    }
    XRRFreeScreenResources(res);
  }
  XCloseDisplay(d);
}

static void wait_for(Display* d, Window w, int type) {
  XEvent e;
  do {
    XWindowEvent(d, w, StructureNotifyMask, &e);
  } while (e.type != type);
}

static Window show(Display* d) {
  list_crtcs();
  XVisualInfo vi;
  if (!XMatchVisualInfo(d, DefaultScreen(d), 32, TrueColor, &vi)) {
    fprintf(stderr, "xlib-baseline: no 32-bit TrueColor visual\n");
    exit(1);
  }
  XSetWindowAttributes a;
  memset(&a, 0, sizeof a);
  a.override_redirect = True;
  a.event_mask = StructureNotifyMask;
  a.colormap = XCreateColormap(d, DefaultRootWindow(d), vi.visual, AllocNone);
  Window w = XCreateWindow(d, DefaultRootWindow(d), 760, 0, 400, 25, 0, vi.depth, InputOutput,
                           vi.visual, CWOverrideRedirect | CWColormap | CWEventMask | CWBorderPixel,
                           &a);
  XFreeColormap(d, a.colormap); /* the window keeps it */
  XMapWindow(d, w);
  wait_for(d, w, MapNotify);
  return w;
}

/* ---- the floor: the add-on's windows, as the server holds them */

static XcursorImages* cursor_images[2]; /* read once, as the add-on keeps them */

static void set_atom(Display* d, Window w, const char* property, const char* value, long number) {
  long item = value ? (long)XInternAtom(d, value, False) : number;
  XChangeProperty(d, w, XInternAtom(d, property, False), XA_ATOM, 32, PropModeReplace,
                  (unsigned char*)&item, 1);
}

static void hints(Display* d, Window w, int width, int height) {
  XSizeHints* h = XAllocSizeHints();
  h->flags = PMinSize | PMaxSize;
  h->min_width = h->max_width = width;
  h->min_height = h->max_height = height;
  XSetWMNormalHints(d, w, h);
  XFree(h);
}

static void above(Display* d, Window w) {
  XEvent e;
  memset(&e, 0, sizeof e);
  e.xclient.type = ClientMessage;
  e.xclient.window = w;
  e.xclient.message_type = XInternAtom(d, "_NET_WM_STATE", False);
  e.xclient.format = 32;
  e.xclient.data.l[0] = 1;
  e.xclient.data.l[1] = (long)XInternAtom(d, "_NET_WM_STATE_ABOVE", False);
  XSendEvent(d, DefaultRootWindow(d), False, SubstructureRedirectMask | SubstructureNotifyMask, &e);
}

static Window argb_window(Display* d, Window parent, XVisualInfo* vi, int x, int y, int w, int h,
                          unsigned long mask, long events, Colormap* keep) {
  XSetWindowAttributes a;
  memset(&a, 0, sizeof a);
  a.background_pixel = 0x991D7A48;
  a.override_redirect = True;
  a.event_mask = events;
  a.colormap = XCreateColormap(d, DefaultRootWindow(d), vi->visual, AllocNone);
  Window win = XCreateWindow(d, parent, x, y, w, h, 0, vi->depth, InputOutput, vi->visual, mask, &a);
  if (keep) *keep = a.colormap;
  else XFreeColormap(d, a.colormap);
  return win;
}

static void rounded(Display* d, Window w, int width, int height, int r) {
  Pixmap mask = XCreatePixmap(d, w, width, height, 1);
  GC gc = XCreateGC(d, mask, 0, NULL);
  XSetForeground(d, gc, 0);
  XFillRectangle(d, mask, gc, 0, 0, width, height);
  XSetForeground(d, gc, 1);
  XFillRectangle(d, mask, gc, 0, 0, width, height - r);
  XFillRectangle(d, mask, gc, r, height - r, width - 2 * r, r);
  XFillArc(d, mask, gc, 0, height - 2 * r - 1, 2 * r, 2 * r, 0, 360 * 64);
  XFillArc(d, mask, gc, width - 2 * r - 1, height - 2 * r - 1, 2 * r, 2 * r, 0, 360 * 64);
  XShapeCombineMask(d, w, ShapeBounding, 0, 0, mask, ShapeSet);
  XShapeCombineMask(d, w, ShapeClip, 0, 0, mask, ShapeSet);
  XFreeGC(d, gc);
  XFreePixmap(d, mask);
}

struct floor_windows {
  Window border, bar, child[5];
  Colormap colormap[5];
};

static void floor_show(Display* d, struct floor_windows* f) {
  static const int widths[5] = {22, 204, 26, 81, 26};
  static const int cursor_of[5] = {0, -1, -1, 1, 0};
  static const long child_events[5] = {0x800C, 0x8000, 0x8000, 0x800C, 0x800C};
  const int W = 1920, H = 1080, bar_w = 359, bar_h = 25, frame = 6;
  XVisualInfo vi;
  XMatchVisualInfo(d, DefaultScreen(d), 32, TrueColor, &vi);
  f->border = argb_window(d, DefaultRootWindow(d), &vi, 0, 0, W, H, 0x2A0A, 0xB0000, NULL);
  hints(d, f->border, W, H);
  set_atom(d, f->border, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_DOCK", 0);
  above(d, f->border);
  XRectangle r[4] = {{0, 0, W, frame}, {W - frame, 0, frame, H}, {0, H - frame, W, frame},
                     {0, 0, frame, H}};
  XShapeCombineRectangles(d, f->border, ShapeBounding, 0, 0, r, 4, ShapeSet, Unsorted);
  set_atom(d, f->border, "_ZEL_NATIVE_UI_TYPE_IGNORE", NULL, 1);
  f->bar = argb_window(d, DefaultRootWindow(d), &vi, 1970, 0, 400, 100, 0x220A, 0, NULL);
  above(d, f->bar);
  set_atom(d, f->bar, "_ZEL_NATIVE_UI_TYPE", NULL, 1);
  XSelectInput(d, f->bar, ExposureMask | VisibilityChangeMask | StructureNotifyMask);
  XMoveResizeWindow(d, f->bar, W / 2 - bar_w / 2, 0, bar_w, bar_h);
  hints(d, f->bar, bar_w, bar_h);
  rounded(d, f->bar, bar_w, bar_h, 4);
  int x = 0;
  for (int i = 0; i < 5; ++i) {
    Cursor cursor = 0;
    if (cursor_of[i] >= 0 && cursor_images[cursor_of[i]]) {
      cursor = XcursorImagesLoadCursor(d, cursor_images[cursor_of[i]]);
    }
    f->child[i] = argb_window(d, f->bar, &vi, x, 0, widths[i], bar_h, 0x200A, 0, &f->colormap[i]);
    if (cursor) XDefineCursor(d, f->child[i], cursor);
    XSelectInput(d, f->child[i], child_events[i]);
    XMapWindow(d, f->child[i]);
    if (cursor) XFreeCursor(d, cursor);
    x += widths[i];
  }
  XMapWindow(d, f->bar);
  XMapWindow(d, f->border);
  XEvent e;
  do {
    XNextEvent(d, &e); /* the bar's and the children's events are taken and dropped */
  } while (!(e.type == MapNotify && e.xmap.window == f->border));
}

static void floor_hide(Display* d, struct floor_windows* f) {
  XUnmapWindow(d, f->bar); /* as the add-on's teardown: no Expose for each child destroyed */
  for (int i = 0; i < 5; ++i) {
    XFreeColormap(d, f->colormap[i]);
    XDestroyWindow(d, f->child[i]);
  }
  XDestroyWindow(d, f->bar);
  XDestroyWindow(d, f->border);
  XEvent e;
  do {
    XNextEvent(d, &e);
  } while (!(e.type == DestroyNotify && e.xdestroywindow.window == f->border));
}

struct hider {
  Display* d;
  Window w;
  int pipe[2];
  struct floor_windows* floor; /* the floor's windows instead of w */
};

static void* hide_thread(void* arg) {
  struct hider* h = arg;
  const int x = ConnectionNumber(h->d);
  const int bound = (x > h->pipe[0] ? x : h->pipe[0]) + 1;
  for (;;) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(x, &set);
    FD_SET(h->pipe[0], &set);
    if (select(bound, &set, NULL, NULL, NULL) <= 0) continue;
    if (!FD_ISSET(h->pipe[0], &set)) {
      while (XPending(h->d)) { /* nothing else is selected; take what comes */
        XEvent e;
        XNextEvent(h->d, &e);
      }
      continue;
    }
    char byte;
    if (read(h->pipe[0], &byte, 1) != 1) return NULL;
    if (h->floor) {
      floor_hide(h->d, h->floor);
      return NULL;
    }
    XDestroyWindow(h->d, h->w);
    wait_for(h->d, h->w, DestroyNotify);
    return NULL;
  }
}

static void start_hider(struct hider* h, pthread_t* thread) {
  if (pipe(h->pipe) != 0 || pthread_create(thread, NULL, hide_thread, h) != 0) {
    fprintf(stderr, "xlib-baseline: no pipe or thread\n");
    exit(1);
  }
}

static void hide(struct hider* h, pthread_t thread) {
  if (write(h->pipe[1], "1", 1) != 1) exit(1);
  pthread_join(thread, NULL);
}

static void end_hider(struct hider* h) {
  close(h->pipe[0]);
  close(h->pipe[1]);
}

static void cycle(Display* d, int floor, double gap, double* shown, double* hidden) {
  struct floor_windows windows;
  struct hider h = {d, 0, {-1, -1}, floor ? &windows : NULL};
  pthread_t thread;
  const double t0 = now_ms(CLOCK_MONOTONIC);
  if (floor) {
    floor_show(d, &windows);
  } else {
    h.w = show(d);
  }
  const double t1 = now_ms(CLOCK_MONOTONIC);
  start_hider(&h, &thread);
  sleep_ms(gap);
  const double t2 = now_ms(CLOCK_MONOTONIC);
  hide(&h, thread);
  const double t3 = now_ms(CLOCK_MONOTONIC);
  end_hider(&h);
  if (shown) *shown = t1 - t0;
  if (hidden) *hidden = t3 - t2;
}

static void round_of(Display* d, int floor, int cycles, double gap) {
  double* shown = calloc((size_t)cycles, sizeof *shown);
  double* hidden = calloc((size_t)cycles, sizeof *hidden);
  if (!shown || !hidden) exit(1);
  for (int i = 0; i < cycles; ++i) cycle(d, floor, gap, &shown[i], &hidden[i]);
  printf("show");
  for (int i = 0; i < cycles; ++i) printf(" %.4f", shown[i]);
  printf("\nhide");
  for (int i = 0; i < cycles; ++i) printf(" %.4f", hidden[i]);
  printf("\n");
  fflush(stdout);
  free(shown);
  free(hidden);
}

static void idle(Display* d, double seconds) {
  struct hider h = {d, 0, {-1, -1}, NULL};
  pthread_t thread;
  h.w = show(d);
  start_hider(&h, &thread);
  sleep_ms(500); /* let the start settle */
  const double cpu0 = now_ms(CLOCK_PROCESS_CPUTIME_ID);
  const double wall0 = now_ms(CLOCK_MONOTONIC);
  sleep_ms(seconds * 1000);
  const double cpu = now_ms(CLOCK_PROCESS_CPUTIME_ID) - cpu0;
  const double wall = now_ms(CLOCK_MONOTONIC) - wall0;
  hide(&h, thread);
  end_hider(&h);
  printf("idle %.4f\n", cpu / (wall / 1000));
  fflush(stdout);
}

int main(void) {
  /* The hide thread uses the connection while the main thread is blocked in the join; they
   * never use it at the same time, as in the add-on, so no XInitThreads. */
  Display* d = XOpenDisplay(NULL);
  if (!d) {
    fprintf(stderr, "xlib-baseline: cannot open the display\n");
    return 1;
  }
  cursor_images[0] = XcursorLibraryLoadImages("sb_h_double_arrow", XcursorGetTheme(d),
                                              XcursorGetDefaultSize(d));
  cursor_images[1] = XcursorLibraryLoadImages("hand2", XcursorGetTheme(d), XcursorGetDefaultSize(d));
  char line[128];
  while (fgets(line, sizeof line, stdin)) {
    int cycles = 0;
    double gap = 0;
    double seconds = 0;
    if (sscanf(line, "round %d %lf", &cycles, &gap) == 2 && cycles > 0) {
      round_of(d, 0, cycles, gap);
    } else if (sscanf(line, "floor %d %lf", &cycles, &gap) == 2 && cycles > 0) {
      round_of(d, 1, cycles, gap);
    } else if (sscanf(line, "warm %d", &cycles) == 1) {
      for (int i = 0; i < cycles; ++i) cycle(d, 0, 0, NULL, NULL);
      for (int i = 0; i < cycles; ++i) cycle(d, 1, 0, NULL, NULL);
      printf("warm\n");
      fflush(stdout);
    } else if (sscanf(line, "idle %lf", &seconds) == 1) {
      idle(d, seconds);
    } else if (strncmp(line, "quit", 4) == 0) {
      break;
    } else {
      fprintf(stderr, "xlib-baseline: unknown command: %s", line);
      return 2;
    }
  }
  XCloseDisplay(d);
  return 0;
}
