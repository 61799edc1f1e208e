#pragma once

#include <QIcon>
#include <QImage>

// The application's bitmap resources, compiled in as ":/res/bitmaps/<id>.bmp" (caption bitmaps of
// the action buttons, toolbar strips 128 and 150). Only the low 16 bits of `id` count, as with a
// resource id. An id that names no bitmap gives a null image and no message. The image comes back
// as 32-bit RGB, whatever depth the file has.
QImage LoadBitmapResource(int id);

// The application icon (icon 128).
QIcon AppIcon();
