#pragma once

// What voicelib-gui's arguments ask for: the window, with a voice list file
// loaded when one is named, or only the version or the usage.

#include <QString>
#include <QStringList>
#include <string>

struct GuiRequest
{
    enum class Action
    {
        Run,
        Version,
        Help,
        UsageError,
    };
    Action action = Action::Run;
    QString listFile; // Run: the voice list file to load; empty for none
    std::string text; // what to print: stdout for Version and Help, stderr for UsageError
};

// The arguments after the program's name. --version and --help win wherever
// they stand (before "--"), so that they need no display.
GuiRequest ParseGuiArguments(const QStringList& args);
