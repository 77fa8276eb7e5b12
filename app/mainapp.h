#pragma once

// The application: the shared font and row icons, the resource lookups of the
// skin, and the one main window; the program ends when the window closes.

#include <QFont>
#include <QIcon>
#include <QList>
#include <array>

// The row icons in image-list order: replace, play, delete, note.
inline constexpr std::array<int, 4> g_rowIconIds = {133, 134, 130, 137};

// 20 x 20 row icons drawn on white, indexed as g_rowIconIds.
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

    // Runs the main window until it closes; returns false, as there is no
    // loop of the application's own to run afterwards.
    bool InitInstance();
    // Releases the image list; the process exit code.
    int ExitInstance();
};
