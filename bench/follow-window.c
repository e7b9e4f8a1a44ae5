/* The other client of bench/follow-window.js: it owns the shared window, moves and resizes it,
 * and times each change from its own ConfigureNotify to the ConfigureNotify of the indicator's
 * frame with the same rectangle, both read on this one connection.
 *
 *   follow-window COUNT   prints the id of its mapped window, reads the frame's id from
 *                         standard input, then makes COUNT moves and COUNT resizes and prints
 *                         one line per kind: "move median_ms max_ms", "resize median_ms max_ms".
 */
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

static int compare(const void *a, const void *b) {
  const double x = *(const double *)a, y = *(const double *)b;
  return (x > y) - (x < y);
}

static int matches(const XConfigureEvent *c, int x, int y, int w, int h) {
  return c->x == x && c->y == y && c->width == w && c->height == h;
}

/* One change already requested: the time from our window's event to the frame's. */
static double follow(Display *d, Window root, Window self, Window frame, int x, int y, int w, int h) {
  double start = -1;
  for (;;) {
    XEvent e;
    XNextEvent(d, &e);
    if (e.type != ConfigureNotify || !matches(&e.xconfigure, x, y, w, h)) continue;
    if (e.xconfigure.window == self && e.xany.window == self) start = now();
    if (e.xconfigure.window == frame && e.xany.window == root && start >= 0) return now() - start;
  }
}

static void report(const char *kind, double *times, int count) {
  qsort(times, count, sizeof(double), compare);
  printf("%s %.3f %.3f\n", kind, times[count / 2], times[count - 1]);
}

int main(int argc, char **argv) {
  const int count = argc > 1 ? atoi(argv[1]) : 100;
  Display *d = XOpenDisplay(NULL);
  if (!d || count <= 0) return 1;
  const Window root = DefaultRootWindow(d);
  int x = 100, y = 100, w = 400, h = 300;
  const Window self = XCreateSimpleWindow(d, root, x, y, w, h, 0, 0, 0xffffff);
  XSelectInput(d, self, StructureNotifyMask);
  XMapWindow(d, self);
  for (XEvent e; XNextEvent(d, &e), e.type != MapNotify;) {}
  printf("0x%lx\n", self);
  fflush(stdout);
  unsigned long frame = 0;
  if (scanf("%lx", &frame) != 1) return 1;
  XSelectInput(d, root, SubstructureNotifyMask);
  double *times = calloc(count, sizeof(double));
  for (int i = 0; i < count; ++i) {
    x = 100 + ((i + 1) % 2) * 300;  /* never where it is: a move to the same place moves no frame */
    XMoveWindow(d, self, x, y);
    XFlush(d);
    times[i] = follow(d, root, self, frame, x, y, w, h);
  }
  report("move", times, count);
  for (int i = 0; i < count; ++i) {
    w = 400 + ((i + 1) % 2) * 200;
    h = 300 + ((i + 1) % 2) * 100;
    XResizeWindow(d, self, w, h);
    XFlush(d);
    times[i] = follow(d, root, self, frame, x, y, w, h);
  }
  report("resize", times, count);
  free(times);
  XCloseDisplay(d);
  return 0;
}
