#include <signal.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <memory>

#include "conversion/platform/platform.h"
#include "window/form1.h"

#ifndef TSRY_VERSION
#define TSRY_VERSION "unknown"
#endif
#ifndef TSRY_APP_ID
#define TSRY_APP_ID "tsry-log-parser"
#endif

namespace {

constexpr const char* kProgramName = "tsry-log-parser";

// --help and --version only print, so they need no display: they work on a
// server over ssh too.
bool OnlyPrints(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* option : {"-h", "--help", "-v", "--version"}) {
            if (std::strcmp(argv[i], option) == 0) return true;
        }
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    // A write past a file size limit then fails with its error, which removes
    // the temporary file, instead of killing the program.
    ::signal(SIGXFSZ, SIG_IGN);
    // Stopped by a signal (the session ending, kill), it removes the
    // temporary file of a Parse under way first.
    tsry::platform::InstallStopHandlers();
    QCoreApplication::setApplicationName(QString::fromLatin1(kProgramName));
    QCoreApplication::setApplicationVersion(QStringLiteral(TSRY_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(TSRY_APP_ID));
    // QApplication takes its own options (-platform, -style, ...) out of the
    // arguments before they are parsed here.
    const std::unique_ptr<QCoreApplication> app =
        OnlyPrints(argc, argv) ? std::make_unique<QCoreApplication>(argc, argv)
                               : std::make_unique<QApplication>(argc, argv);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Converts a persistence log into tsry.nss, the script that restores every variable it "
        "holds, in a window: Browse picks the log, or several read as one, Parse writes "
        "tsry.nss into the folder the program was started from."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Print this help message and exit"));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Print the program's version and exit"));
    parser.addOptions({help, version});
    parser.addPositionalArgument(
        QStringLiteral("LOG"),
        QStringLiteral("A log, or a folder of logs, to show in the window as Browse shows it; "
                       "several are read as one, oldest first"),
        QStringLiteral("[LOG...]"));
    const auto usageError = [](const QString& what) {
        std::fprintf(stderr, "%s: %s\nRun with --help for more information.\n", kProgramName,
                     qPrintable(what));
        return 2;
    };
    if (!parser.parse(QCoreApplication::arguments())) return usageError(parser.errorText());
    if (parser.isSet(version)) parser.showVersion();
    if (parser.isSet(help)) parser.showHelp(0);

    // Only a QApplication gets this far: OnlyPrints() held no option that
    // lets the program go on.
    tsry::Form1 window;
    window.show();
    // The logs given are counted once the window is up, so that it is drawn
    // first and a message box about them has it to stand over. QApplication
    // has taken its own options out of argv: what is left are the logs, as
    // the system's bytes.
    if (const QByteArrayList logs = tsry::LogsOfCommandLine(argc, argv); !logs.isEmpty()) {
        QTimer::singleShot(0, &window, [&window, logs] { window.UseLogs(logs); });
    }
    return QApplication::exec();
}
