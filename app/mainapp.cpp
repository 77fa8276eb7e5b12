#include "app/mainapp.h"

#include "app/maindlg.h"
#include "res/resources.h"
#include "skin/gdi.h"
#include "skin/resource_lookup.h"

#include <QCoreApplication>
#include <QIconEngine>
#include <QLibraryInfo>
#include <QPainter>
#include <QTranslator>
#include <optional>

QList<QIcon> g_imageList;
QFont g_font;

namespace {

// A row icon's pixmaps, at the ratios the list may be shown at.
QIcon RenderRowIcon(int id)
{
    QIcon icon;
    for (qreal dpr : {1.0, 2.0}) {
        const QPixmap pm = voicelib::res::LoadBitmapResource(id, Qt::white, dpr);
        if (!pm.isNull())
            icon.addPixmap(pm);
    }
    return icon;
}

// A row icon rendered the first time it is drawn or measured: the list
// starts empty, so nothing need be rendered before the window is shown.
class DeferredIconEngine final : public QIconEngine
{
public:
    explicit DeferredIconEngine(int id) : m_nId(id) {}

    QIconEngine* clone() const override
    {
        auto* copy = new DeferredIconEngine(m_nId);
        copy->m_icon = m_icon;
        return copy;
    }
    QString key() const override { return QStringLiteral("voicelib-deferred"); }
    bool isNull() override { return Icon().isNull(); }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return Icon().availableSizes(mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return Icon().actualSize(size, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return Icon().pixmap(size, 1.0, mode, state);
    }
    // size is in device pixels (see QIcon::pixmap with a ratio).
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override
    {
        return Icon().pixmap(size / scale, scale, mode, state);
    }
    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        Icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }

private:
    const QIcon& Icon()
    {
        if (!m_icon)
            m_icon = RenderRowIcon(m_nId);
        return *m_icon;
    }

    int m_nId;
    std::optional<QIcon> m_icon;
};

} // namespace

QIcon LoadRowIcon(int id)
{
    return QIcon(new DeferredIconEngine(id));
}

void CMainApp::InitSharedResources()
{
    // CreateFontA maps the face to the installed CJK fonts; the size is in points.
    g_font = CreateFontA(0, 0, 0, false, QStringLiteral("微软雅黑"));
    g_font.setPointSize(9);

    g_imageList.clear();
    for (int id : ROW_ICON_IDS)
        g_imageList.append(LoadRowIcon(id));

    SetIconLookup([](unsigned id) { return voicelib::res::LoadIconResource(static_cast<int>(id)); });
    // Header bitmaps are opaque on the button face, which the header keys out.
    SetBitmapLookup([](unsigned id) {
        return voicelib::res::LoadBitmapResource(static_cast<int>(id), ToQColor(GetSysColor(COLOR_BTNFACE)))
            .toImage();
    });
}

bool CMainApp::InstallTranslations()
{
    static QTranslator* installed = nullptr;
    if (installed)
        return true;
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (!translator->load(QStringLiteral("qtbase_zh_CN"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    installed = translator;
    return true;
}

bool CMainApp::InitInstance(const QString& listFile)
{
    InitSharedResources();
    InstallTranslations();
    CMainDlg dlg;
    dlg.Create();
    if (!listFile.isEmpty())
        dlg.LoadList(listFile);
    dlg.exec();
    return false;
}

int CMainApp::ExitInstance()
{
    g_imageList.clear();
    return 0;
}
