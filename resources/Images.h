// The program's images, drawn by the program itself: the tool-bar image strip, the application
// icon, the two capture-state icons of the status bar and the product picture of the About box.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace res {

// Positions in the tool-bar strip (bitmap kToolbarBitmap).
enum ToolbarImage : int {
    kImageOpen = 1,
    kImageSave = 2,
    kImageStart = 3,
    kImageStop = 4,
    kImageCopy = 8,
};

// One image of an image strip; a null icon for an unknown strip or position.
QIcon BitmapImage(int bitmapId, int image);
// The icons kAppIcon, kCapturingIcon and kStoppedIcon; a null icon for others.
QIcon Icon(int iconId);
// The product picture of the About box, size by size pixels.
QPixmap ProductPicture(int size);

}  // namespace res
