// Loading this library offers the desktop presenter to the dialog manager;
// the manager calls the factory when the program asks for a desktop. The
// factory opens no display before that call.
#include "winapi/fltk/desktop.h"

namespace {
struct OfferDesktop {
  OfferDesktop() { waOfferDesktop(&vlfl::desktopPresenter); }
};
OfferDesktop offer;
}  // namespace
