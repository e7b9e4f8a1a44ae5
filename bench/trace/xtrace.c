/* A preloaded library that times the calls the add-on makes into Xlib, its extensions, Xft,
 * Xcursor, LodePNG and a few of libc's, and counts the replies each of them waited for (round
 * trips). Only the outermost call of a thread is recorded: the round trips an Xft or Xcursor
 * call makes inside Xlib are counted in that call. Used by bench/trace/breakdown.js:
 *
 *   XTRACE_OUT=file LD_PRELOAD=build/bench/xtrace.so node ...  (built by breakdown.js)
 *
 * Records stay in memory and are written to XTRACE_OUT when the process exits, one a line:
 *   tid start_ns duration_ns replies name arg arg2 detail
 * with CLOCK_MONOTONIC times (the clock of process.hrtime). A measuring tool, not part of the
 * add-on: the wrappers add about a microsecond per call.
 */
#define _GNU_SOURCE
#include <X11/Xcursor/Xcursor.h>
#include <X11/Xft/Xft.h>
#include <X11/Xlib.h>
#include <X11/Xlibint.h>
#include <X11/Xutil.h>
#include <X11/extensions/Xrandr.h>
#include <X11/extensions/Xrender.h>
#include <X11/extensions/shape.h>
#include <dlfcn.h>
#include <lodepng.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

#define CAPACITY (1u << 19)

struct record {
  uint64_t start;
  uint64_t duration;
  const char* name;
  long arg;
  long arg2;
  int tid;
  int replies;
  char detail[48];
};

static struct record* records;
static atomic_uint used;
static __thread int depth;
static __thread int replies;
static __thread int inReply;
static __thread int tid;
static __thread long arg2; /* a second value for the call being left, set by its wrapper */

static uint64_t now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (uint64_t)t.tv_sec * 1000000000u + (uint64_t)t.tv_nsec;
}

struct frame {
  uint64_t start;
  int replies;
};

static void enter(struct frame* f) {
  if (depth++ == 0) {
    f->start = now();
    f->replies = replies;
  }
}

static void leave(struct frame* f, const char* name, long arg, const char* detail) {
  if (--depth != 0) {
    arg2 = 0; /* a nested call's value is not the outer call's */
    return;
  }
  const uint64_t end = now();
  if (!records) return;
  const unsigned slot = atomic_fetch_add(&used, 1);
  if (slot >= CAPACITY) return;
  if (tid == 0) tid = (int)syscall(SYS_gettid);
  struct record* r = &records[slot];
  r->start = f->start;
  r->duration = end - f->start;
  r->name = name;
  r->arg = arg;
  r->arg2 = arg2;
  arg2 = 0;
  r->tid = tid;
  r->replies = replies - f->replies;
  r->detail[0] = '\0';
  if (detail) {
    size_t n = 0;
    for (; detail[n] && n < sizeof r->detail - 1; ++n) {
      const char c = detail[n];
      r->detail[n] = (c == '\n' || c == ' ') ? '_' : c;
    }
    r->detail[n] = '\0';
  }
}

#define REAL(name)                                      \
  static __typeof__(&name) real;                        \
  if (!real) real = (__typeof__(&name))dlsym(RTLD_NEXT, #name)

/* A wrapper that records the call; ARG and DETAIL may use the result r and the arguments. */
#define WRAP(ret, name, params, args, arg, detail) \
  ret name params {                                \
    REAL(name);                                    \
    struct frame f;                                \
    enter(&f);                                     \
    ret r = real args;                             \
    leave(&f, #name, (long)(arg), detail);         \
    return r;                                      \
  }
#define WRAPV(name, params, args, arg, detail) \
  void name params {                           \
    REAL(name);                                \
    struct frame f;                            \
    enter(&f);                                 \
    real args;                                 \
    leave(&f, #name, (long)(arg), detail);     \
  }

/* With XTRACE_SYNC set, the requests of these calls are followed by an XSync inside the call, so
 * that the time the server takes for them shows in the call itself rather than at the next
 * round trip. */
static int syncEach = -1;
static void syncAfter(Display* d) {
  static __typeof__(&XSync) realSync;
  if (syncEach < 0) syncEach = getenv("XTRACE_SYNC") != NULL;
  if (!syncEach || depth != 1) return;
  if (!realSync) realSync = (__typeof__(&XSync))dlsym(RTLD_NEXT, "XSync");
  realSync(d, False);
}
#define WRAPS(ret, name, params, args, arg, detail) \
  ret name params {                                 \
    REAL(name);                                     \
    struct frame f;                                 \
    enter(&f);                                      \
    ret r = real args;                              \
    syncAfter(d);                                   \
    leave(&f, #name, (long)(arg), detail);          \
    return r;                                       \
  }
#define WRAPSV(name, params, args, arg, detail) \
  void name params {                            \
    REAL(name);                                 \
    struct frame f;                             \
    enter(&f);                                  \
    real args;                                  \
    syncAfter(d);                               \
    leave(&f, #name, (long)(arg), detail);      \
  }

/* Round trips: every Xlib reply goes through _XReply; libraries on xcb wait directly. */
Status _XReply(Display* d, xReply* rep, int extra, Bool discard) {
  REAL(_XReply);
  ++replies;
  ++inReply;
  const Status r = real(d, rep, extra, discard);
  --inReply;
  return r;
}
void* xcb_wait_for_reply(xcb_connection_t* c, unsigned int request, xcb_generic_error_t** e) {
  REAL(xcb_wait_for_reply);
  if (!inReply) ++replies;
  return real(c, request, e);
}
void* xcb_wait_for_reply64(xcb_connection_t* c, uint64_t request, xcb_generic_error_t** e) {
  REAL(xcb_wait_for_reply64);
  if (!inReply) ++replies;
  return real(c, request, e);
}

WRAP(Display*, XOpenDisplay, (const char* n), (n), 0, NULL)
WRAP(int, XCloseDisplay, (Display * d), (d), 0, NULL)
WRAP(int, XSync, (Display * d, Bool b), (d, b), 0, NULL)
WRAP(int, XFlush, (Display * d), (d), 0, NULL)
WRAP(int, XPending, (Display * d), (d), r, NULL)
WRAP(int, XNextEvent, (Display * d, XEvent* e), (d, e), (arg2 = (long)e->xany.window, e->type),
     NULL)
WRAPS(int, XSelectInput, (Display * d, Window w, long m), (d, w, m), m, NULL)
WRAP(Bool, XQueryExtension, (Display * d, const char* n, int* a, int* b, int* c),
     (d, n, a, b, c), r, n)
WRAP(Atom, XInternAtom, (Display * d, const char* n, Bool o), (d, n, o), r, n)
WRAP(int, XGetWindowProperty,
     (Display * d, Window w, Atom p, long o, long l, Bool del, Atom t, Atom* at, int* af,
      unsigned long* n, unsigned long* after, unsigned char** v),
     (d, w, p, o, l, del, t, at, af, n, after, v), p, NULL)
WRAPS(int, XChangeProperty,
     (Display * d, Window w, Atom p, Atom t, int f_, int m, const unsigned char* v, int n),
     (d, w, p, t, f_, m, v, n), p, NULL)
WRAP(Status, XMatchVisualInfo, (Display * d, int s, int dep, int c, XVisualInfo* v),
     (d, s, dep, c, v), r, NULL)
WRAPS(Colormap, XCreateColormap, (Display * d, Window w, Visual* v, int a), (d, w, v, a), 0, NULL)
WRAPS(int, XFreeColormap, (Display * d, Colormap c), (d, c), 0, NULL)
WRAPS(Window, XCreateWindow,
     (Display * d, Window p, int x, int y, unsigned int w, unsigned int h, unsigned int b, int dep,
      unsigned int c, Visual* v, unsigned long m, XSetWindowAttributes* a),
     (d, p, x, y, w, h, b, dep, c, v, m, a), (arg2 = (long)r, w), NULL)
WRAPS(int, XDestroyWindow, (Display * d, Window w), (d, w), w, NULL)
WRAPS(int, XMapWindow, (Display * d, Window w), (d, w), w, NULL)
WRAPS(int, XMoveResizeWindow,
     (Display * d, Window w, int x, int y, unsigned int wi, unsigned int h), (d, w, x, y, wi, h),
     wi, NULL)
WRAPSV(XSetWMNormalHints, (Display * d, Window w, XSizeHints* h), (d, w, h), 0, NULL)
WRAPS(Status, XSendEvent, (Display * d, Window w, Bool p, long m, XEvent* e), (d, w, p, m, e), 0,
     NULL)
WRAPSV(XShapeCombineRectangles,
      (Display * d, Window w, int k, int x, int y, XRectangle* r_, int n, int o, int ord),
      (d, w, k, x, y, r_, n, o, ord), n, NULL)
WRAPSV(XShapeCombineMask, (Display * d, Window w, int k, int x, int y, Pixmap p, int o),
      (d, w, k, x, y, p, o), k, NULL)
WRAP(Bool, XShapeQueryExtension, (Display * d, int* a, int* b), (d, a, b), r, NULL)
WRAPS(Pixmap, XCreatePixmap,
     (Display * d, Drawable w, unsigned int wi, unsigned int h, unsigned int dep),
     (d, w, wi, h, dep), 0, NULL)
WRAPS(int, XFreePixmap, (Display * d, Pixmap p), (d, p), 0, NULL)
WRAPS(GC, XCreateGC, (Display * d, Drawable w, unsigned long m, XGCValues* v), (d, w, m, v), 0,
     NULL)
WRAPS(int, XFreeGC, (Display * d, GC g), (d, g), 0, NULL)
WRAPS(int, XFillRectangle,
     (Display * d, Drawable w, GC g, int x, int y, unsigned int wi, unsigned int h),
     (d, w, g, x, y, wi, h), 0, NULL)
WRAPS(int, XFillArc,
     (Display * d, Drawable w, GC g, int x, int y, unsigned int wi, unsigned int h, int a, int b),
     (d, w, g, x, y, wi, h, a, b), 0, NULL)
WRAPS(int, XDefineCursor, (Display * d, Window w, Cursor c), (d, w, c), 0, NULL)
WRAPS(int, XFreeCursor, (Display * d, Cursor c), (d, c), 0, NULL)
WRAP(XImage*, XCreateImage,
     (Display * d, Visual* v, unsigned int dep, int f_, int o, char* data, unsigned int w,
      unsigned int h, int pad, int bpl),
     (d, v, dep, f_, o, data, w, h, pad, bpl), w, NULL)
WRAPS(int, XPutImage,
     (Display * d, Drawable w, GC g, XImage* i, int sx, int sy, int dx, int dy, unsigned int wi,
      unsigned int h),
     (d, w, g, i, sx, sy, dx, dy, wi, h), 0, NULL)
WRAP(Bool, XRRQueryExtension, (Display * d, int* a, int* b), (d, a, b), r, NULL)
WRAP(XRRScreenResources*, XRRGetScreenResources, (Display * d, Window w), (d, w),
     r ? r->ncrtc : -1, NULL)
WRAP(XRRScreenResources*, XRRGetScreenResourcesCurrent, (Display * d, Window w), (d, w),
     r ? r->ncrtc : -1, NULL)
WRAP(XRRCrtcInfo*, XRRGetCrtcInfo, (Display * d, XRRScreenResources* s, RRCrtc c), (d, s, c),
     r ? r->noutput : -1, NULL)
WRAP(Bool, XRenderQueryExtension, (Display * d, int* a, int* b), (d, a, b), r, NULL)
WRAP(char*, XcursorGetTheme, (Display * d), (d), 0, NULL)
WRAP(int, XcursorGetDefaultSize, (Display * d), (d), r, NULL)
WRAP(XcursorImages*, XcursorLibraryLoadImages, (const char* n, const char* t, int s), (n, t, s),
     r != NULL, n)
WRAPS(Cursor, XcursorImagesLoadCursor, (Display * d, const XcursorImages* i), (d, i), r, NULL)
WRAPV(XcursorImagesDestroy, (XcursorImages * i), (i), 0, NULL)
WRAPV(XftTextExtentsUtf8, (Display * d, XftFont* f_, const FcChar8* s, int n, XGlyphInfo* g),
      (d, f_, s, n, g), n, NULL)
WRAPS(Bool, XftColorAllocValue,
     (Display * d, Visual* v, Colormap c, const XRenderColor* rc, XftColor* out),
     (d, v, c, rc, out), r, NULL)
WRAPSV(XftColorFree, (Display * d, Visual* v, Colormap c, XftColor* col), (d, v, c, col), 0, NULL)
WRAPS(XftDraw*, XftDrawCreate, (Display * d, Drawable w, Visual* v, Colormap c), (d, w, v, c), 0,
     NULL)
WRAPV(XftDrawDestroy, (XftDraw * x), (x), 0, NULL)
WRAPV(XftDrawStringUtf8,
      (XftDraw * x, const XftColor* c, XftFont* f_, int a, int b, const FcChar8* s, int n),
      (x, c, f_, a, b, s, n), n, NULL)
WRAP(unsigned, lodepng_decode32,
     (unsigned char** o, unsigned* w, unsigned* h, const unsigned char* in, size_t n),
     (o, w, h, in, n), n, NULL)
WRAP(int, select, (int n, fd_set* r_, fd_set* w, fd_set* e, struct timeval* t), (n, r_, w, e, t),
     r, NULL)
WRAP(int, pipe2, (int p[2], int f_), (p, f_), r, NULL)
WRAP(int, pthread_create,
     (pthread_t * t, const pthread_attr_t* a, void* (*s)(void*), void* arg_),
     (t, a, s, arg_), r, NULL)
WRAP(int, pthread_join, (pthread_t t, void** v), (t, v), r, NULL)
WRAP(int, pthread_setname_np, (pthread_t t, const char* n), (t, n), 0, n)

/* Only the small writes and reads: the pipe's byte and libuv's wake-ups. */
ssize_t write(int fd, const void* b, size_t n) {
  REAL(write);
  if (n > 8) return real(fd, b, n);
  struct frame f;
  enter(&f);
  const ssize_t r = real(fd, b, n);
  leave(&f, "write", (long)n, NULL);
  return r;
}
ssize_t read(int fd, void* b, size_t n) {
  REAL(read);
  if (n > 8) return real(fd, b, n);
  struct frame f;
  enter(&f);
  const ssize_t r = real(fd, b, n);
  leave(&f, "read", (long)n, NULL);
  return r;
}

/* The log lines, by their format. */
int vsnprintf(char* s, size_t n, const char* format, va_list a) {
  REAL(vsnprintf);
  struct frame f;
  enter(&f);
  const int r = real(s, n, format, a);
  leave(&f, "vsnprintf", r, format);
  return r;
}

__attribute__((constructor)) static void start(void) {
  records = calloc(CAPACITY, sizeof *records);
}

__attribute__((destructor)) static void dump(void) {
  const char* path = getenv("XTRACE_OUT");
  if (!path || !records) return;
  FILE* out = fopen(path, "w");
  if (!out) return;
  struct record* all = records;
  records = NULL; /* nothing more is recorded while we write */
  unsigned n = atomic_load(&used);
  if (n > CAPACITY) n = CAPACITY;
  fprintf(out, "# pid %d\n", (int)getpid());
  for (unsigned i = 0; i < n; ++i) {
    const struct record* r = &all[i];
    fprintf(out, "%d %llu %llu %d %s %ld %ld %s\n", r->tid, (unsigned long long)r->start,
            (unsigned long long)r->duration, r->replies, r->name, r->arg, r->arg2,
            r->detail[0] ? r->detail : "-");
  }
  fclose(out);
}
