#pragma once

// Icons and column header bitmaps by numeric resource id (resource_ids.h). Every picture is an SVG
// compiled into the program, rendered at the device pixel ratio it is shown at.
//
// These live in a namespace because skin/resource_lookup.h declares global LoadIconResource and
// LoadBitmapResource lookups with unsigned ids; the program wires those lookups to the functions here.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace voicelib::res {

// The picture's own size in device-independent pixels; an invalid size for an unknown id.
QSize ResourceSize(int id);

// The picture's path in the compiled-in resources (":/res/icons/<id>.svg"); empty for an unknown id.
QString ResourcePath(int id);

// A scalable icon whose availableSizes() is just ResourceSize(id) and whose pixmaps are rendered from
// the SVG at the requested size and device pixel ratio. Null for an unknown id.
QIcon LoadIconResource(int id);

// The picture at its own size × dpr on a transparent background, with devicePixelRatio dpr.
// Null for an unknown id or a dpr outside (0, 16].
QPixmap LoadIconPixmap(int id, qreal dpr = 1.0);

// The picture painted over a background of that colour: every pixel opaque, so a header can key the
// colour out again. Any known id may be asked for, icons included (e.g. row icons on white).
// Null for an unknown id, an invalid colour or a dpr outside (0, 16].
QPixmap LoadBitmapResource(int id, QColor background, qreal dpr = 1.0);

} // namespace voicelib::res
