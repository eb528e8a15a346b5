// tsry-window-bench LOG [RUNS]: times Parse in the real window against the
// same conversion with no window, alternating, in one process, and prints the
// medians. Run it under an X server (see bench/run).
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPushButton>
#include <QUrl>
#include <algorithm>
#include <cstdio>
#include <vector>

#include "conversion/parse_log.h"
#include "conversion/reading/log_halves.h"
#include "conversion/reading/open_log.h"
#include "window/form1.h"

namespace {
double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tsry-window-bench LOG [RUNS]\n");
        return 2;
    }
    const QUrl log = QUrl::fromLocalFile(QFile::decodeName(argv[1]));
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;

    tsry::Form1 form;
    form.setFileChooser([log](QWidget*) { return std::optional<QList<QUrl>>({log}); });
    form.show();
    QApplication::processEvents();
    auto* browse = form.findChild<QPushButton*>(QStringLiteral("btnBrowse"));
    auto* parse = form.findChild<QPushButton*>(QStringLiteral("btnParse"));
    browse->click();  // counts the lines, as a user would first
    QApplication::processEvents();

    std::vector<double> window;
    std::vector<double> plain;
    tsry::NoProgress noProgress;
    tsry::NoStatus noStatus;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        parse->click();
        window.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
        QApplication::processEvents();

        timer.start();
        tsry::ParseLog(argv[1], form.lineCount(), noProgress, noStatus);
        plain.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("%.2f %.2f\n", Median(window), Median(plain));
    return 0;
}
