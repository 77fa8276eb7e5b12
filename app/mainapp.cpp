#include "app/mainapp.h"

#include "app/maindlg.h"
#include "res/resources.h"
#include "skin/gdi.h"
#include "skin/resource_lookup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

QList<QIcon> g_imageList;
QFont g_font;

QIcon LoadRowIcon(int id)
{
    QIcon icon;
    for (qreal dpr : {1.0, 2.0}) {
        const QPixmap pm = voicelib::res::LoadBitmapResource(id, Qt::white, dpr);
        if (!pm.isNull())
            icon.addPixmap(pm);
    }
    return icon;
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
