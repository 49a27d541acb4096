// The toolbar's 16x16 images (transparent background), reachable as ":/toolbar/<Key>.png".
#pragma once
#include <QImage>
#include <QString>
#include <QStringList>

namespace kv {

// The image keys in the order of the image list.
const QStringList& ToolbarImageKeys();
// Registers the images with the resource system; the program's code lives in a static
// library, whose resources are only linked in when something asks for them. Safe to repeat.
void InitToolbarImages();
// The image of one key (a null image for an unknown key).
QImage ToolbarImage(const QString& key);

}  // namespace kv
