#pragma once

// The application: the shared font and row icons, the resource lookups of the
// skin, and the one main window; the program ends when the window closes.

#include "app/voicelistmodel.h"
#include "res/resource_ids.h"

#include <QFont>
#include <QIcon>
#include <QList>
#include <array>

// The icon of each row image; the note beside the number is the append button's picture.
inline constexpr std::array<int, VoiceListModel::ROW_IMAGE_COUNT> ROW_ICON_IDS = [] {
    std::array<int, VoiceListModel::ROW_IMAGE_COUNT> ids{};
    ids[VoiceListModel::ROW_IMAGE_REPLACE] = IDI_REPLACE;
    ids[VoiceListModel::ROW_IMAGE_PLAY] = IDI_PLAY;
    ids[VoiceListModel::ROW_IMAGE_DELETE] = IDI_DELETE;
    ids[VoiceListModel::ROW_IMAGE_NOTE] = IDI_APPEND;
    return ids;
}();

// 20 x 20 row icons drawn on white, indexed as ROW_ICON_IDS.
extern QList<QIcon> g_imageList;
// The 9-point user-interface font of the buttons and the list.
extern QFont g_font;

// A row icon as the list shows it: the picture of that resource id on white.
QIcon LoadRowIcon(int id);

class CMainApp
{
public:
    CMainApp() = default;

    // Creates g_font and g_imageList and wires the skin's icon and bitmap
    // lookups to the program's resources. Needs the QApplication.
    static void InitSharedResources();
    // Qt's own dialogs and buttons speak the window's language (Simplified
    // Chinese); false when Qt's translations are not installed.
    static bool InstallTranslations();

    // Runs the main window, with listFile loaded when one is given, until it
    // closes; returns false, as there is no loop of the application's own to
    // run afterwards.
    bool InitInstance(const QString& listFile = {});
    // Releases the image list; the process exit code.
    int ExitInstance();
};
