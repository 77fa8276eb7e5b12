#pragma once

// Icons and bitmaps are named by numeric resource ids in the program; the skin
// asks the program's lookups for them and knows no file names itself.

#include <QIcon>
#include <QImage>
#include <QSize>
#include <functional>

using IconLookup = std::function<QIcon(unsigned id)>;
using BitmapLookup = std::function<QImage(unsigned id)>;

void SetIconLookup(IconLookup lookup);
void SetBitmapLookup(BitmapLookup lookup);

// A null icon or image when no lookup is set or the id is unknown.
QIcon LoadIconResource(unsigned id);
QImage LoadBitmapResource(unsigned id);

// An icon's own size: the smallest size it carries a picture for. A purely
// scalable icon has none and gives an empty size; see MakeSizedIcon.
QSize IconNaturalSize(const QIcon& icon);

// Renders a scalable icon at 1x and 2x of a natural size so that it carries one.
QIcon MakeSizedIcon(const QIcon& scalable, const QSize& natural);
