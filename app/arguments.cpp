#include "app/arguments.h"

#include "core/messages.h"

GuiRequest ParseGuiArguments(const QStringList& args)
{
    const qsizetype end = args.indexOf(QStringLiteral("--"));
    const QStringList options = end < 0 ? args : args.mid(0, end);
    GuiRequest request;
    for (const QString& a : options) {
        if (a == QLatin1String("--version") || a == QLatin1String("-V")) {
            request.action = GuiRequest::Action::Version;
            request.text = voicelib::VersionMessage("voicelib-gui") + "\n";
            return request;
        }
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            request.action = GuiRequest::Action::Help;
            request.text = std::string(voicelib::MessageText(voicelib::Msg::GuiUsage)) + "\n";
            return request;
        }
    }
    const auto usageError = [&request](std::string why) {
        request.action = GuiRequest::Action::UsageError;
        request.text = why + "\n" + voicelib::MessageText(voicelib::Msg::GuiSeeHelp) + "\n";
        return request;
    };
    QStringList files;
    for (const QString& a : options) {
        if (a.size() > 1 && a.startsWith(QLatin1Char('-')))
            return usageError(voicelib::Message(voicelib::Msg::GuiUnknownOption, a.toStdString()));
        files << a;
    }
    if (end >= 0)
        files << args.mid(end + 1);
    if (files.size() > 1)
        return usageError(voicelib::Message(voicelib::Msg::GuiOneList, files.size()));
    request.listFile = files.value(0);
    return request;
}
