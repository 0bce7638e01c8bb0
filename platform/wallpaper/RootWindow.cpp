#include "WallpaperBackends.h"

#include <cstdlib>

// Last: it brings in the X headers and their macros.
#include "display/X11Display.h"

namespace kv::platform::wallpaper {

// The X root window's background: a pixmap made on a connection of its own
// that is kept by the server after it closes, so the picture outlives this
// program; the pixmap it replaces is freed through the properties that
// name it, as other tools that set the root background expect.
Status SetRootWindow(const Bitmap& bitmap, const std::string& name, bool spanned) {
  constexpr auto kTimeout = std::chrono::seconds(3);
  // The main connection first: a display that cannot be reached must not
  // be left holding a retained pixmap nobody will ever free.
  KV_TRY_ASSIGN(DisplayHandle main, OpenDisplay(name, kTimeout));
  Pixmap pixmap = None;
  {
    KV_TRY_ASSIGN(DisplayHandle owner, OpenDisplay(name, kTimeout));
    Display* display = owner.get();
    ErrorTrap trap(display);
    int screen = DefaultScreen(display);
    Window root = RootWindow(display, screen);
    int rootWidth = DisplayWidth(display, screen), rootHeight = DisplayHeight(display, screen);
    unsigned depth = static_cast<unsigned>(DefaultDepth(display, screen));
    Visual* visual = DefaultVisual(display, screen);
    pixmap = XCreatePixmap(display, root, static_cast<unsigned>(rootWidth), static_cast<unsigned>(rootHeight), depth);
    GC gc = XCreateGC(display, pixmap, 0, nullptr);
    XSetForeground(display, gc, BlackPixel(display, screen));
    XFillRectangle(display, pixmap, gc, 0, 0, static_cast<unsigned>(rootWidth), static_cast<unsigned>(rootHeight));

    // The picture is shown unscaled, on black.
    const int width = bitmap.Width(), height = bitmap.Height();
    XImage* image = XCreateImage(display, visual, depth, ZPixmap, 0, nullptr, static_cast<unsigned>(width),
                                 static_cast<unsigned>(height), 32, 0);
    if (!image) {
      XFreeGC(display, gc);
      XFreePixmap(display, pixmap);
      return Fail("the X display \"" + name + "\" cannot take a picture of its screen format");
    }
    image->data = static_cast<char*>(std::malloc(static_cast<std::size_t>(image->bytes_per_line) * static_cast<std::size_t>(height)));
    if (!image->data) {
      XDestroyImage(image);
      XFreeGC(display, gc);
      XFreePixmap(display, pixmap);
      return Fail("out of memory for the root window's picture");
    }
    auto shift = [](unsigned long mask) {
      int bits = 0;
      while (mask && !(mask & 1)) mask >>= 1, ++bits;
      return bits;
    };
    const int redShift = shift(image->red_mask), greenShift = shift(image->green_mask), blueShift = shift(image->blue_mask);
    const bool direct = image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
                        image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 && image->blue_mask == 0xFF;
    for (int y = 0; y < height; ++y) {
      const std::uint8_t* in = bitmap.Row(y);
      if (direct) {
        auto* out = reinterpret_cast<std::uint8_t*>(image->data + static_cast<std::ptrdiff_t>(y) * image->bytes_per_line);
        for (int x = 0; x < width; ++x, in += 3, out += 4) out[0] = in[0], out[1] = in[1], out[2] = in[2], out[3] = 0;
      } else {
        for (int x = 0; x < width; ++x, in += 3) {
          unsigned long pixel = ((static_cast<unsigned long>(in[2]) << redShift) & image->red_mask) |
                                ((static_cast<unsigned long>(in[1]) << greenShift) & image->green_mask) |
                                ((static_cast<unsigned long>(in[0]) << blueShift) & image->blue_mask);
          XPutPixel(image, x, y, pixel);
        }
      }
    }
    // In the middle of the primary monitor, which the wallpaper was made
    // for; a picture of the whole screen covers it from its origin.
    ScreenRect monitor = PrimaryMonitor(display, root);
    int x = monitor.left + (monitor.right - monitor.left - width) / 2;
    int y = monitor.top + (monitor.bottom - monitor.top - height) / 2;
    if (spanned || (width == rootWidth && height == rootHeight)) x = 0, y = 0;
    XPutImage(display, pixmap, gc, image, 0, 0, x, y, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XDestroyImage(image);
    XFreeGC(display, gc);
    if (trap.Sync() > 0 || ConnectionLost(display)) {
      XFreePixmap(display, pixmap);
      return Fail("the X display \"" + name + "\" refused the root window's picture");
    }
    XSetCloseDownMode(display, RetainPermanent);
  }

  Display* display = main.get();
  Window root = DefaultRootWindow(display);
  Atom rootId = XInternAtom(display, "_XROOTPMAP_ID", False);
  Atom setRootId = XInternAtom(display, "ESETROOT_PMAP_ID", False);
  XGrabServer(display);
  {
    ErrorTrap trap(display);
    auto previous = [&](Atom atom) -> Pixmap {
      Atom type = None;
      int format = 0;
      unsigned long items = 0, after = 0;
      unsigned char* data = nullptr;
      Pixmap found = None;
      if (XGetWindowProperty(display, root, atom, 0, 1, False, XA_PIXMAP, &type, &format, &items, &after, &data) ==
              Success &&
          data) {
        if (type == XA_PIXMAP && format == 32 && items == 1) found = static_cast<Pixmap>(*reinterpret_cast<long*>(data));
        XFree(data);
      }
      return found;
    };
    Pixmap old = previous(rootId);
    // Only a pixmap that both properties name was made for the root by a
    // tool like this one and may be freed; a stale id just raises an error
    // that the trap absorbs.
    if (old != None && old == previous(setRootId) && old != pixmap) {
      XKillClient(display, old);
      trap.Sync();
    }
    long id = static_cast<long>(pixmap);
    XChangeProperty(display, root, rootId, XA_PIXMAP, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&id), 1);
    XChangeProperty(display, root, setRootId, XA_PIXMAP, 32, PropModeReplace, reinterpret_cast<unsigned char*>(&id), 1);
    XSetWindowBackgroundPixmap(display, root, pixmap);
    XClearWindow(display, root);
  }
  XUngrabServer(display);
  XSync(display, False);
  if (ConnectionLost(display)) return Fail("the connection to the X display \"" + name + "\" was lost");
  return Ok();
}

}  // namespace kv::platform::wallpaper
