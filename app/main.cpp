#include <signal.h>

#include <QApplication>

#include "conversion/platform.h"
#include "window/form1.h"

int main(int argc, char** argv) {
    // A write past a file size limit then fails with its error, which removes
    // the temporary file, instead of killing the program.
    ::signal(SIGXFSZ, SIG_IGN);
    // Stopped by a signal (the session ending, kill), it removes the
    // temporary file of a Parse under way first.
    tsry::platform::InstallStopHandlers();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tsry-log-parser"));
    QApplication::setDesktopFileName(QStringLiteral("tsry-log-parser"));
    tsry::Form1 window;
    window.show();
    return QApplication::exec();
}
