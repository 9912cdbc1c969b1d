/* Test helper: drops files on the X window at a screen point through XDND with text/uri-list,
   as a file manager does.  Usage: xdnd-drop X Y URI [URI...]   Exit 0 once the drop finished. */
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/select.h>
#include <time.h>

static Display *display;
static Atom aware, enter, position, status, drop, finished, selection, uriList, actionCopy;

static int IsAware(Window w) {
  Atom type;
  int format;
  unsigned long count, after;
  unsigned char *data = NULL;
  int found = XGetWindowProperty(display, w, aware, 0, 1, False, AnyPropertyType, &type, &format,
                                 &count, &after, &data) == Success && type != None;
  if (data) XFree(data);
  return found;
}

/* The deepest window under the point that says it takes drops. */
static Window TargetAt(int x, int y) {
  Window parent = DefaultRootWindow(display), child, found = None;
  int cx, cy;
  while (XTranslateCoordinates(display, DefaultRootWindow(display), parent, x, y, &cx, &cy,
                               &child) && child != None) {
    parent = child;
    if (IsAware(parent)) found = parent;
  }
  return found;
}

static void Send(Window target, Window source, Atom type, long l1, long l2, long l3, long l4) {
  XEvent e;
  memset(&e, 0, sizeof e);
  e.xclient.type = ClientMessage;
  e.xclient.window = target;
  e.xclient.message_type = type;
  e.xclient.format = 32;
  e.xclient.data.l[0] = (long)source;
  e.xclient.data.l[1] = l1;
  e.xclient.data.l[2] = l2;
  e.xclient.data.l[3] = l3;
  e.xclient.data.l[4] = l4;
  XSendEvent(display, target, False, NoEventMask, &e);
  XFlush(display);
}

/* Waits for an event for at most `ms` milliseconds. */
static int NextEvent(XEvent *e, int ms) {
  struct timespec start, now;
  clock_gettime(CLOCK_MONOTONIC, &start);
  for (;;) {
    if (XPending(display)) {
      XNextEvent(display, e);
      return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &now);
    long spent = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
    if (spent >= ms) return 0;
    int fd = ConnectionNumber(display);
    fd_set fds;
    FD_ZERO(&fds);
    FD_SET(fd, &fds);
    struct timeval tv = {0, 20000};
    select(fd + 1, &fds, NULL, NULL, &tv);
  }
}

static void AnswerRequest(XSelectionRequestEvent *r, const char *list) {
  XEvent reply;
  memset(&reply, 0, sizeof reply);
  reply.xselection.type = SelectionNotify;
  reply.xselection.requestor = r->requestor;
  reply.xselection.selection = r->selection;
  reply.xselection.target = r->target;
  reply.xselection.time = r->time;
  reply.xselection.property = None;
  if (r->target == uriList) {
    Atom property = r->property != None ? r->property : r->target;
    XChangeProperty(display, r->requestor, property, uriList, 8, PropModeReplace,
                    (const unsigned char *)list, (int)strlen(list));
    reply.xselection.property = property;
  }
  XSendEvent(display, r->requestor, False, NoEventMask, &reply);
  XFlush(display);
}

int main(int argc, char **argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: xdnd-drop X Y URI [URI...]\n");
    return 2;
  }
  display = XOpenDisplay(NULL);
  if (!display) return 3;
  int x = atoi(argv[1]), y = atoi(argv[2]);
  size_t size = 1;
  for (int i = 3; i < argc; ++i) size += strlen(argv[i]) + 2;
  char *list = calloc(size, 1);
  for (int i = 3; i < argc; ++i) strcat(strcat(list, argv[i]), "\r\n");
  aware = XInternAtom(display, "XdndAware", False);
  enter = XInternAtom(display, "XdndEnter", False);
  position = XInternAtom(display, "XdndPosition", False);
  status = XInternAtom(display, "XdndStatus", False);
  drop = XInternAtom(display, "XdndDrop", False);
  finished = XInternAtom(display, "XdndFinished", False);
  selection = XInternAtom(display, "XdndSelection", False);
  uriList = XInternAtom(display, "text/uri-list", False);
  actionCopy = XInternAtom(display, "XdndActionCopy", False);
  Window source = XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
  XSetSelectionOwner(display, selection, source, CurrentTime);
  XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
  XSync(display, False);
  Window target = TargetAt(x, y);
  if (target == None) {
    fprintf(stderr, "xdnd-drop: no drop target at %d,%d\n", x, y);
    return 4;
  }
  Send(target, source, enter, 5L << 24, (long)uriList, 0, 0);
  Send(target, source, position, 0, ((long)x << 16) | y, CurrentTime, (long)actionCopy);
  int dropped = 0;
  XEvent e;
  /* The target may ask for the data at any time, even before it answers the position. */
  while (NextEvent(&e, 5000)) {
    if (e.type == SelectionRequest) {
      AnswerRequest(&e.xselectionrequest, list);
    } else if (e.type == ClientMessage && e.xclient.message_type == status && !dropped) {
      Send(target, source, drop, 0, CurrentTime, 0, 0);
      dropped = 1;
    } else if (e.type == ClientMessage && e.xclient.message_type == finished) {
      return 0;
    }
  }
  if (!dropped) {
    fprintf(stderr, "xdnd-drop: the target did not answer\n");
    return 5;
  }
  fprintf(stderr, "xdnd-drop: the drop did not finish\n");
  return 6;
}
