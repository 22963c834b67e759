#include "HostApplication.h"

#include <QApplication>

#include <cstdio>

namespace {

// The offscreen platform says on every window that it cannot pass size
// hints on, and the runtime folder a headless session lacks; that says
// nothing to a user.
QtMessageHandler g_standardHandler = nullptr;

void QuietPlatformNotes(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.contains(QStringLiteral("propagateSizeHints")) ||
        message.contains(QStringLiteral("XDG_RUNTIME_DIR")))
        return;
    if (g_standardHandler)
        g_standardHandler(type, context, message);
    else
        fprintf(stderr, "%s\n", qPrintable(message));
}

} // namespace

QApplication& HostApplication()
{
    static int argc = 1;
    static char name[] = "velmaro";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

void UseHeadlessPlatform(double scale)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (scale != 1.0)
        qputenv("QT_SCALE_FACTOR", QByteArray::number(scale));
    if (!g_standardHandler)
        g_standardHandler = qInstallMessageHandler(QuietPlatformNotes);
}
