#include <QApplication>

#include "window/form1.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tsry-log-parser"));
    QApplication::setDesktopFileName(QStringLiteral("tsry-log-parser"));
    tsry::Form1 window;
    window.show();
    return QApplication::exec();
}
