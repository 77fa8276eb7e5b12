#include "resources.h"

#include "resource_ids.h"

#include <QFile>
#include <QIconEngine>
#include <QImage>
#include <QPaintDevice>
#include <QPainter>
#include <QPixmapCache>
#include <QSvgRenderer>
#include <algorithm>
#include <array>
#include <cmath>
#include <mutex>

// Q_INIT_RESOURCE cannot be used inside a namespace. Without it the linker drops the compiled-in
// pictures of this static library, since nothing else refers to them.
static void InitVoicelibResources()
{
    Q_INIT_RESOURCE(voicelib);
}

namespace voicelib::res {
namespace {

struct Entry
{
    int id;
    int width;
    int height;
};

constexpr std::array RESOURCE_ENTRIES{
    Entry{IDR_MAINFRAME, 48, 48},      Entry{IDI_DELETE, 20, 20},      Entry{IDI_EXIT, 20, 20},
    Entry{IDI_INSERT, 20, 20},         Entry{IDI_REPLACE, 20, 20},     Entry{IDI_PLAY, 20, 20},
    Entry{IDI_EXPORT, 20, 20},         Entry{IDI_APPEND, 20, 20},      Entry{IDB_HEADER_MARK, 10, 10},
    Entry{IDI_DOWN, 20, 20},           Entry{IDI_UP, 20, 20},          Entry{IDI_BUILD, 20, 20},
    Entry{IDI_LOAD, 20, 20},           Entry{IDB_HEADER_PLAY, 20, 20}, Entry{IDB_HEADER_DELETE, 20, 20},
    Entry{IDB_HEADER_REPLACE, 20, 20}, Entry{IDI_CAPTION, 32, 32},     Entry{IDI_STOP, 20, 20},
};

// Beyond this a request is a caller's mistake, not a screen; refuse rather than allocate gigabytes.
constexpr qreal MAX_DPR = 16.0;

const Entry* Find(int id)
{
    const auto it = std::find_if(RESOURCE_ENTRIES.begin(), RESOURCE_ENTRIES.end(),
                                 [id](const Entry& e) { return e.id == id; });
    return it == RESOURCE_ENTRIES.end() ? nullptr : &*it;
}

bool ValidDpr(qreal dpr)
{
    return dpr > 0.0 && dpr <= MAX_DPR;
}

QSize Natural(const Entry& e)
{
    return {e.width, e.height};
}

QSize DevicePixels(QSize logical, qreal dpr)
{
    return {std::max(1, qRound(logical.width() * dpr)), std::max(1, qRound(logical.height() * dpr))};
}

QImage Greyed(const QImage& source)
{
    QImage image = source.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 128 + qGray(line[x]) / 2;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) / 2);
        }
    }
    return image;
}

// Rendered straight from the SVG at the target pixel size: never a scaled copy of another size.
QPixmap Rendered(const Entry& e, QSize pixels, QIcon::Mode mode)
{
    const bool greyed = mode == QIcon::Disabled;
    const QString key = QStringLiteral("voicelib-res/%1/%2x%3/%4")
                            .arg(e.id)
                            .arg(pixels.width())
                            .arg(pixels.height())
                            .arg(greyed);
    QPixmap cached;
    if (QPixmapCache::find(key, &cached))
        return cached;

    QSvgRenderer renderer(ResourcePath(e.id));
    if (!renderer.isValid())
        return {};
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return {};
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(pixels)));
    }
    QPixmap pixmap = QPixmap::fromImage(greyed ? Greyed(image) : image);
    QPixmapCache::insert(key, pixmap);
    return pixmap;
}

class ResourceIconEngine final : public QIconEngine
{
public:
    explicit ResourceIconEngine(const Entry& entry) : m_entry(entry) {}

    QIconEngine* clone() const override { return new ResourceIconEngine(m_entry); }
    QString key() const override { return QStringLiteral("voicelib-res"); }
    bool isNull() override { return false; }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override { return {Natural(m_entry)}; }

    // Scalable: any size the caller asks for, keeping the picture's proportions.
    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override
    {
        return Natural(m_entry).scaled(size, Qt::KeepAspectRatio);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return scaledPixmap(size, mode, state, 1.0);
    }

    // Qt 6.4's QIcon::pixmap(size, dpr) passes the size already multiplied by the ratio, so size is in
    // device pixels here.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        const QSize pixels = actualSize(size, mode, state);
        if (pixels.isEmpty() || !ValidDpr(scale))
            return {};
        QPixmap pixmap = Rendered(m_entry, pixels, mode);
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        const qreal dpr = painter->device() != nullptr ? painter->device()->devicePixelRatio() : 1.0;
        const QSize logical = actualSize(rect.size(), mode, state);
        if (logical.isEmpty() || !ValidDpr(dpr))
            return;
        QPixmap pixmap = Rendered(m_entry, DevicePixels(logical, dpr), mode);
        pixmap.setDevicePixelRatio(dpr);
        QRect target(QPoint(), logical);
        target.moveCenter(rect.center());
        painter->drawPixmap(target, pixmap);
    }

private:
    Entry m_entry;
};

void EnsureResources()
{
    static std::once_flag once;
    std::call_once(once, InitVoicelibResources);
}

} // namespace

QSize ResourceSize(int id)
{
    const Entry* e = Find(id);
    return e != nullptr ? Natural(*e) : QSize();
}

QString ResourcePath(int id)
{
    if (Find(id) == nullptr)
        return {};
    EnsureResources();
    return QStringLiteral(":/res/icons/%1.svg").arg(id);
}

QIcon LoadIconResource(int id)
{
    const Entry* e = Find(id);
    if (e == nullptr || !QFile::exists(ResourcePath(id)))
        return {};
    return QIcon(new ResourceIconEngine(*e));
}

QPixmap LoadIconPixmap(int id, qreal dpr)
{
    const Entry* e = Find(id);
    if (e == nullptr || !ValidDpr(dpr))
        return {};
    QPixmap pixmap = Rendered(*e, DevicePixels(Natural(*e), dpr), QIcon::Normal);
    pixmap.setDevicePixelRatio(dpr);
    return pixmap;
}

QPixmap LoadBitmapResource(int id, QColor background, qreal dpr)
{
    const QPixmap picture = LoadIconPixmap(id, dpr);
    if (picture.isNull() || !background.isValid())
        return {};
    // RGB32 has no alpha channel, so the result is opaque whatever the colour's alpha.
    QImage canvas(picture.size(), QImage::Format_RGB32);
    canvas.fill(background.rgb());
    {
        QPainter painter(&canvas);
        QImage source = picture.toImage();
        source.setDevicePixelRatio(1.0); // device pixels, one to one
        painter.drawImage(0, 0, source);
    }
    QPixmap result = QPixmap::fromImage(canvas);
    result.setDevicePixelRatio(dpr);
    return result;
}

} // namespace voicelib::res
