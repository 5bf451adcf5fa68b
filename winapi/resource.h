// winapi/resource.h -- dialog templates, bitmaps and icons as plain data.
//
// A program hands its resources to the dialog manager as one ResourceSet and
// gets an instance handle back; templates and bitmaps are then found by number
// under that instance, as on the classic platform. Rectangles are in dialog
// units; the presenter converts them to pixels from the template's font
// (horizontal unit = average character width / 4, vertical = height / 8).
#pragma once
#include <stdint.h>

typedef enum ControlKind {
  CTL_STATIC,    // text label (text alignment and frame from the style)
  CTL_BITMAP,    // picture static; bitmap number in ControlTemplate.bitmap
  CTL_GROUPBOX,
  CTL_BUTTON,
  CTL_CHECKBOX,
  CTL_EDIT,
  CTL_LISTBOX,
  CTL_COMBOBOX,  // drop-down list
  CTL_PROGRESS
} ControlKind;

// Control styles (any combination that makes sense for the kind).
enum {
  CS_BORDER = 1u << 0,       // thin frame
  CS_STATICEDGE = 1u << 1,   // three-dimensional edge of buttons, edits, statics
  CS_SUNKEN = 1u << 2,       // sunken static
  CS_MODALFRAME = 1u << 3,   // raised modal-frame edge (indicators)
  CS_CLIENTEDGE = 1u << 4,   // sunken client edge (panels)
  CS_GREYPANEL = 1u << 5,    // filled grey rectangle
  CS_RIGHT = 1u << 6,        // right-aligned text
  CS_CENTER = 1u << 7,       // centred text
  CS_NOWRAP = 1u << 8,       // single line, no word wrap
  CS_PASSWORD = 1u << 9,     // edit shows "*"
  CS_NUMBER = 1u << 10,      // edit takes digits only
  CS_READONLY = 1u << 11,
  CS_MULTILINE = 1u << 12,
  CS_WANTRETURN = 1u << 13,  // Enter inserts a line end instead of reaching the dialog
  CS_VSCROLL = 1u << 14,
  CS_SORT = 1u << 15,        // sorted list box
  CS_LEFTTEXT = 1u << 16,    // check box text on the left of the box
  CS_DEFPUSH = 1u << 17,     // default push button
  CS_DISABLED = 1u << 18,
  CS_HIDDEN = 1u << 19,
  CS_TABSTOP = 1u << 20,
  CS_AUTOHSCROLL = 1u << 21,
  CS_TRANSPARENT = 1u << 22,     // static drawn without its own background
  CS_OEMCONVERT = 1u << 23,      // edit text kept within the OEM character set
  CS_NOTIFY = 1u << 24,          // list box reports clicks and double-clicks
  CS_NOINTEGRALHEIGHT = 1u << 25 // list box keeps its height, partial last row
};

typedef struct ControlTemplate {
  int32_t id;
  ControlKind kind;
  int32_t x, y, cx, cy;  // dialog units
  uint32_t style;
  const char* text;      // caption / initial text (code page 1252), may be 0
  int32_t bitmap;        // CTL_BITMAP: bitmap resource number
} ControlTemplate;

// Dialog styles.
enum {
  DS_CAPTION = 1u << 0,
  DS_SYSMENU = 1u << 1,     // close box in the caption
  DS_TOOLWINDOW = 1u << 2,  // thin tool-window caption
  DS_MINIMIZED = 1u << 3,   // created minimised
  DS_VISIBLE = 1u << 4,
  DS_MODALFRAME = 1u << 5,
  DS_CENTER = 1u << 6
};

typedef struct DialogTemplate {
  int32_t id;
  uint32_t style;
  const char* caption;
  const char* fontFace;  // "Courier New"
  int32_t pointSize;
  int32_t cx, cy;        // dialog units
  const ControlTemplate* controls;
  int32_t controlCount;
} DialogTemplate;

// A bitmap as 24-bit pixels, rows top to bottom, 3 bytes (R, G, B) a pixel.
// bitsPerPixel records the stored depth (24, or 8 for a 256-colour picture).
typedef struct BitmapResource {
  int32_t id;
  int32_t width, height;
  int32_t bitsPerPixel;
  const uint8_t* rgb;
} BitmapResource;

// An icon as 32-bit RGBA pixels.
typedef struct IconResource {
  int32_t id;
  int32_t width, height;
  const uint8_t* rgba;
} IconResource;

typedef struct ResourceSet {
  const char* name;  // module name, e.g. "Velloran.exe"
  const DialogTemplate* const* dialogs;
  int32_t dialogCount;
  // Bitmaps and icons may be produced on first use; these return 0 when absent.
  const BitmapResource* (*bitmap)(int32_t id);
  const IconResource* (*icon)(int32_t id);
} ResourceSet;
