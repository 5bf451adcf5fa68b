// resources/resources.h -- the program's dialog templates, pictures and icon.
//
// Everything the dialog manager needs to build the program's windows is plain
// data here: nine dialog templates (rectangles in dialog units, styles,
// texts), two bitmaps and one icon. The templates are constant tables in
// templates.cpp; the pictures are painted by code in bitmaps.cpp the first
// time someone asks for them and then kept for the rest of the run, so the
// executable carries no image files.
//
// The entry hands VelloranResources() to tkProgramInstance and from then on every
// dialog, bitmap and icon is found by its number under the returned instance.
//
//   dialog  1000  splash "Welcome" (modeless, bitmap 120)
//   dialog  2000  Control Console (bitmap 110 as its logo)
//   dialog  3000  writer
//   dialog  4000  About (bitmap 120)
//   dialog  5000  Setting
//   dialog  6000  mailbox
//   dialog  7000  reader
//   dialog 10000  prompt
//   dialog 20000  contact picker
//   bitmap   110  console logo, 125 x 25, 24-bit colour
//   bitmap   120  splash and About picture, 695 x 125, 256 colours
//   icon     100  program icon, 32 x 32 RGBA
#pragma once
#include <stdint.h>

#include "winapi/resource.h"

namespace res {
constexpr int32_t kWelcomeDialog = 1000;
constexpr int32_t kConsoleDialog = 2000;
constexpr int32_t kWriterDialog = 3000;
constexpr int32_t kAboutDialog = 4000;
constexpr int32_t kSettingDialog = 5000;
constexpr int32_t kMailboxDialog = 6000;
constexpr int32_t kReaderDialog = 7000;
constexpr int32_t kPromptDialog = 10000;
constexpr int32_t kContactDialog = 20000;

constexpr int32_t kLogoBitmap = 110;
constexpr int32_t kPictureBitmap = 120;
constexpr int32_t kProgramIcon = 100;

constexpr int32_t kLogoWidth = 125, kLogoHeight = 25;
constexpr int32_t kPictureWidth = 695, kPictureHeight = 125;
constexpr int32_t kIconSize = 32;

// The nine templates, in ascending order of their numbers.
const DialogTemplate* const* DialogTemplates(int32_t* count);
// The template with this number, or 0.
const DialogTemplate* FindDialog(int32_t id);

// Pictures, painted on first use; 0 for an unknown number.
const BitmapResource* Bitmap(int32_t id);
const IconResource* Icon(int32_t id);
// Forgets the painted pictures (they are painted again on the next request).
void ResetPictures();
}  // namespace res

// The set the entry registers with the dialog manager.
const ResourceSet& VelloranResources();
