#include "skin/resource_lookup.h"

#include <QPixmap>
#include <utility>

namespace {

IconLookup& IconLookupSlot()
{
    static IconLookup lookup;
    return lookup;
}

BitmapLookup& BitmapLookupSlot()
{
    static BitmapLookup lookup;
    return lookup;
}

} // namespace

void SetIconLookup(IconLookup lookup)
{
    IconLookupSlot() = std::move(lookup);
}
void SetBitmapLookup(BitmapLookup lookup)
{
    BitmapLookupSlot() = std::move(lookup);
}

QIcon LoadIconResource(unsigned id)
{
    const auto& lookup = IconLookupSlot();
    return lookup ? lookup(id) : QIcon();
}

QImage LoadBitmapResource(unsigned id)
{
    const auto& lookup = BitmapLookupSlot();
    return lookup ? lookup(id) : QImage();
}

QSize IconNaturalSize(const QIcon& icon)
{
    if (icon.isNull())
        return {};
    QSize best;
    for (const QSize& s : icon.availableSizes()) {
        if (s.isEmpty())
            continue;
        if (!best.isValid() || s.width() * s.height() < best.width() * best.height())
            best = s;
    }
    return best;
}

QIcon MakeSizedIcon(const QIcon& scalable, const QSize& natural)
{
    QIcon out;
    if (scalable.isNull() || natural.isEmpty())
        return out;
    for (qreal dpr : {1.0, 2.0}) {
        QPixmap pm = scalable.pixmap(natural, dpr);
        if (!pm.isNull()) {
            pm = pm.scaled(natural * dpr, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            pm.setDevicePixelRatio(dpr);
            out.addPixmap(pm);
        }
    }
    return out;
}
