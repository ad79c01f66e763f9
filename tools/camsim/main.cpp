// SPDX-License-Identifier: MIT
#include "options.h"
#include "picturesource.h"
#include "server.h"
#include "signalwatcher.h"

#include <QGuiApplication>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    // Painting text needs a GUI application, but this program never opens a
    // window and must run where there is no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
#ifdef Q_OS_WIN
    // Offscreen, Qt reads font files itself, and Windows keeps them here.
    if (qEnvironmentVariableIsEmpty("QT_QPA_FONTDIR"))
        qputenv("QT_QPA_FONTDIR", qgetenv("WINDIR") + "\\Fonts");
#endif
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName("orvex-camsim");
    QGuiApplication::setApplicationVersion("1.0");

    CamsimOptions options;
    QString error;
    QString help;
    switch (parseOptions(QGuiApplication::arguments(), &options, &error, &help)) {
    case ParseResult::Help:
        std::fputs(qPrintable(help), stdout);
        return 0;
    case ParseResult::Version:
        std::printf("orvex-camsim %s\n", qPrintable(QGuiApplication::applicationVersion()));
        return 0;
    case ParseResult::Error:
        std::fprintf(stderr, "orvex-camsim: %s\nTry 'orvex-camsim --help' for the options.\n",
                     qPrintable(error));
        return 2;
    case ParseResult::Ok:
        break;
    }

    std::unique_ptr<PictureSource> source;
    if (options.replayDir.isEmpty()) {
        source = std::make_unique<TestPattern>(options.size, options.quality);
    } else {
        source = std::make_unique<ReplaySource>(options.replayDir, &error);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "orvex-camsim: --replay: %s\n", qPrintable(error));
            return 2;
        }
    }

    SignalWatcher watcher;
    CamServer server(options, source.get());
    if (!watcher.install(&error) || !server.openSendLog(&error) || !server.listen(&error)) {
        std::fprintf(stderr, "orvex-camsim: %s\n", qPrintable(error));
        return 1;
    }
    // Tests and scripts wait for this line to learn the port.
    std::printf("listening on %s\n", qPrintable(server.boundAddress()));
    std::fflush(stdout);

    QObject::connect(&watcher, &SignalWatcher::received, &app, [&server] {
        server.stop();
        QGuiApplication::exit(0);
    });
    QObject::connect(&server, &CamServer::finished, &app, [] { QGuiApplication::exit(0); });
    return app.exec();
}
