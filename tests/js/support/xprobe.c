/* A second X client for the reliability tests; it looks at the module's connection from outside.
 *
 *   xprobe resources ID          the resources that the client owning the XID ID holds on the
 *                                server, by kind, as one JSON line (X-Resource extension):
 *                                {"base":"0x200000","counts":{"WINDOW":7,...}} or {"base":null}
 *                                when no other client owns that id (any more)
 *   xprobe clients               the same for every client but this one and the server's
 *                                own, as one JSON array
 *   xprobe expose COUNT ID...    COUNT exposures spread round-robin over the windows ID...
 *                                (XClearArea with exposures), then one round trip
 *   xprobe expose - ID...        the same, for each COUNT read from standard input (one per
 *                                line), answering "done" on standard output after each; ends at
 *                                end of input. The caller decides the pace.
 *   xprobe cursor X Y            moves the pointer to X,Y (root coordinates) and prints the
 *                                cursor the server then shows, as one JSON line:
 *                                {"width":9,"height":9,"xhot":4,"yhot":4,"pixel":"0xff123456"}
 *   xprobe presses X Y W H       an input-only override-redirect window of its own over that
 *                                rectangle (root coordinates), mapped where it stands: prints
 *                                "ready" once mapped, then "press X Y" (root coordinates) for
 *                                each button press it gets; ends at end of input.
 *   xprobe grab MS               grabs the server, prints "grabbed", keeps the grab MS
 *                                milliseconds, then lets go and exits
 *   xprobe resource-text         sets the root's RESOURCE_MANAGER to standard input, unparsed
 *
 * IDs may be given in hex (0x...) or decimal. Exit status 0 on success, 1 on any failure.
 */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/XRes.h>
#include <X11/extensions/Xfixes.h>
#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static int usage(void) {
  fprintf(stderr, "usage: xprobe resources ID | clients | expose COUNT|- ID... | cursor X Y | "
                  "presses X Y W H | grab MS | resource-text\n");
  return 1;
}

static int printClient(Display *display, const XResClient *client) {
  int types = 0;
  XResType *list = NULL;
  if (!XResQueryClientResources(display, client->resource_base, &types, &list)) return 1;
  printf("{\"base\":\"0x%lx\",\"counts\":{", client->resource_base);
  for (int i = 0; i < types; ++i) {
    char *name = XGetAtomName(display, list[i].resource_type);
    printf("%s\"%s\":%u", i ? "," : "", name ? name : "?", list[i].count);
    if (name) XFree(name);
  }
  printf("}}");
  XFree(list);
  return 0;
}

static XResClient *queryClients(Display *display, int *count) {
  int eventBase = 0, errorBase = 0;
  XResClient *clients = NULL;
  if (!XResQueryExtension(display, &eventBase, &errorBase)) {
    fprintf(stderr, "xprobe: no X-Resource extension\n");
    return NULL;
  }
  if (!XResQueryClients(display, count, &clients)) return NULL;
  return clients;
}

// Whether the client is this very program: a client that goes away frees its id range, and the
// next client to connect, often this one, gets it.
static int isSelf(Display *display, const XResClient *client) {
  const XID self = XAllocID(display);
  return (self & ~client->resource_mask) == client->resource_base;
}

static int resources(Display *display, XID id) {
  int count = 0;
  XResClient *clients = queryClients(display, &count);
  if (clients == NULL) return 1;
  const XResClient *owner = NULL;
  for (int i = 0; i < count; ++i) {
    if ((id & ~clients[i].resource_mask) == clients[i].resource_base &&
        !isSelf(display, &clients[i])) {
      owner = &clients[i];
    }
  }
  int status = 0;
  if (owner == NULL) printf("{\"base\":null}");
  else status = printClient(display, owner);
  printf("\n");
  XFree(clients);
  return status;
}

static int allClients(Display *display) {
  int count = 0;
  XResClient *clients = queryClients(display, &count);
  if (clients == NULL) return 1;
  int status = 0;
  int printed = 0;
  printf("[");
  for (int i = 0; i < count && status == 0; ++i) {
    if (clients[i].resource_base == 0) continue;  // the server's own resources
    if (isSelf(display, &clients[i])) continue;
    if (printed++) printf(",");
    status = printClient(display, &clients[i]);
  }
  printf("]\n");
  XFree(clients);
  return status;
}

static void exposeRoundRobin(Display *display, long count, const Window *windows, int idCount) {
  for (long n = 0; n < count; ++n) {
    XClearArea(display, windows[n % idCount], 0, 0, 0, 0, True);
    if (n % 1024 == 1023) XFlush(display);
  }
  XSync(display, False);
}

static int expose(Display *display, const char *count, char **ids, int idCount) {
  Window windows[16];
  if (idCount < 1 || idCount > 16) return usage();
  for (int i = 0; i < idCount; ++i) windows[i] = strtoul(ids[i], NULL, 0);
  if (strcmp(count, "-") != 0) {
    exposeRoundRobin(display, strtol(count, NULL, 0), windows, idCount);
    return 0;
  }
  long chunk = 0;
  while (scanf("%ld", &chunk) == 1) {
    exposeRoundRobin(display, chunk, windows, idCount);
    printf("done\n");
    fflush(stdout);
  }
  return 0;
}

static int cursor(Display *display, int x, int y) {
  int eventBase = 0, errorBase = 0;
  if (!XFixesQueryExtension(display, &eventBase, &errorBase)) {
    fprintf(stderr, "xprobe: no XFIXES extension\n");
    return 1;
  }
  XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
  XSync(display, False);
  XFixesCursorImage *image = XFixesGetCursorImage(display);
  if (image == NULL) return 1;
  printf("{\"width\":%u,\"height\":%u,\"xhot\":%u,\"yhot\":%u,\"pixel\":\"0x%08lx\"}\n",
         image->width, image->height, image->xhot, image->yhot,
         image->width && image->height ? image->pixels[0] & 0xffffffffUL : 0UL);
  XFree(image);
  return 0;
}

static void printPresses(Display *display) {
  while (XPending(display)) {
    XEvent event;
    XNextEvent(display, &event);
    if (event.type == ButtonPress) printf("press %d %d\n", event.xbutton.x_root, event.xbutton.y_root);
    if (event.type == MapNotify) printf("ready\n");
  }
  fflush(stdout);
}

static int presses(Display *display, int x, int y, int width, int height) {
  XSetWindowAttributes attributes = {0};
  attributes.override_redirect = True;
  attributes.event_mask = ButtonPressMask | StructureNotifyMask;
  const Window window = XCreateWindow(display, DefaultRootWindow(display), x, y, width, height, 0,
                                      0, InputOnly, CopyFromParent,
                                      CWOverrideRedirect | CWEventMask, &attributes);
  XMapWindow(display, window);
  struct pollfd fds[2] = {{ConnectionNumber(display), POLLIN, 0}, {0, POLLIN, 0}};
  for (;;) {
    printPresses(display);
    if (poll(fds, 2, -1) < 0) return 1;
    char buffer[64];
    if ((fds[1].revents & (POLLIN | POLLHUP)) && read(0, buffer, sizeof buffer) <= 0) break;
  }
  XSync(display, False);  // what the server sent before the end of input is printed too
  printPresses(display);
  return 0;
}

static int grab(Display *display, long ms) {
  XGrabServer(display);
  XSync(display, False);
  printf("grabbed\n");
  fflush(stdout);
  usleep((useconds_t)ms * 1000);
  XUngrabServer(display);
  XSync(display, False);
  return 0;
}

static int resourceText(Display *display) {
  size_t length = 0, size = 1 << 20;
  char *text = malloc(size);
  for (size_t n; text && (n = fread(text + length, 1, size - length, stdin)) > 0;) {
    length += n;
    if (length == size) text = realloc(text, size *= 2);
  }
  if (!text) return 1;
  XChangeProperty(display, DefaultRootWindow(display), XA_RESOURCE_MANAGER, XA_STRING, 8,
                  PropModeReplace, (unsigned char *)text, (int)length);
  XSync(display, False);
  free(text);
  return 0;
}

int main(int argc, char **argv) {
  if (argc < 2) return usage();
  Display *display = XOpenDisplay(NULL);
  if (display == NULL) {
    fprintf(stderr, "xprobe: cannot open display %s\n", XDisplayName(NULL));
    return 1;
  }
  int status;
  if (strcmp(argv[1], "clients") == 0) {
    status = allClients(display);
  } else if (strcmp(argv[1], "resources") == 0 && argc == 3) {
    status = resources(display, strtoul(argv[2], NULL, 0));
  } else if (strcmp(argv[1], "cursor") == 0 && argc == 4) {
    status = cursor(display, atoi(argv[2]), atoi(argv[3]));
  } else if (strcmp(argv[1], "presses") == 0 && argc == 6) {
    status = presses(display, atoi(argv[2]), atoi(argv[3]), atoi(argv[4]), atoi(argv[5]));
  } else if (strcmp(argv[1], "grab") == 0 && argc == 3) {
    status = grab(display, atol(argv[2]));
  } else if (strcmp(argv[1], "resource-text") == 0) {
    status = resourceText(display);
  } else if (strcmp(argv[1], "expose") == 0 && argc > 3) {
    status = expose(display, argv[2], argv + 3, argc - 3);
  } else {
    status = usage();
  }
  XCloseDisplay(display);
  return status;
}
