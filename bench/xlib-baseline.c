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
 * Driven over standard input, one command a line, answered on standard output:
 *   round CYCLES GAP_MS   -> "show MS MS ..." and "hide MS MS ..." (one sample per cycle)
 *   idle SECONDS          -> "idle CPU_MS_PER_SECOND" (shown, nothing happening)
 *   quit
 * The thread is started, and GAP_MS slept, between the timed show and the timed hide.
 */
#define _GNU_SOURCE
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
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

struct hider {
  Display* d;
  Window w;
  int pipe[2];
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

static void cycle(Display* d, double gap, double* shown, double* hidden) {
  struct hider h = {d, 0, {-1, -1}};
  pthread_t thread;
  const double t0 = now_ms(CLOCK_MONOTONIC);
  h.w = show(d);
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

static void round_of(Display* d, int cycles, double gap) {
  double* shown = calloc((size_t)cycles, sizeof *shown);
  double* hidden = calloc((size_t)cycles, sizeof *hidden);
  if (!shown || !hidden) exit(1);
  for (int i = 0; i < cycles; ++i) cycle(d, gap, &shown[i], &hidden[i]);
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
  struct hider h = {d, 0, {-1, -1}};
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
  char line[128];
  while (fgets(line, sizeof line, stdin)) {
    int cycles = 0;
    double gap = 0;
    double seconds = 0;
    if (sscanf(line, "round %d %lf", &cycles, &gap) == 2 && cycles > 0) {
      round_of(d, cycles, gap);
    } else if (sscanf(line, "warm %d", &cycles) == 1) {
      for (int i = 0; i < cycles; ++i) cycle(d, 0, NULL, NULL);
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
