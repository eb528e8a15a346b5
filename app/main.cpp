#include <signal.h>

#include <QApplication>

#include "window/form1.h"

int main(int argc, char** argv) {
    // A write past a file size limit then fails with its error, which removes
    // the temporary file, instead of killing the program.
    ::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tsry-log-parser"));
    QApplication::setDesktopFileName(QStringLiteral("tsry-log-parser"));
    tsry::Form1 window;
    window.show();
    return QApplication::exec();
}
