#include <QApplication>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <chrono>
#include <functional>

#include "tests/test_support.h"
#include "window/bar_progress.h"
#include "window/form1.h"

using tsry::Form1;
using tsry::test::ReadFile;
using tsry::test::WriteFile;

namespace {

// Watches the progress bar: when it is shown and hidden, and what it paints.
class BarWatcher : public QObject {
  public:
    explicit BarWatcher(QProgressBar* bar) : bar_(bar) { bar->installEventFilter(this); }

    QStringList events;
    QList<int> paintedValues;
    QList<int> paintedMaximums;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
            case QEvent::Show:
                events << "show";
                break;
            case QEvent::Hide:
                events << "hide";
                break;
            case QEvent::Paint:
                paintedValues << bar_->value();
                paintedMaximums << bar_->maximum();
                break;
            default:
                break;
        }
        return false;
    }

  private:
    QProgressBar* bar_;
};

// Runs `act` on the next modal dialog once it is open.
void OnNextModal(std::function<void(QWidget*)> act) {
    auto* timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, qApp, [timer, act = std::move(act)] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            act(modal);
        }
    });
    timer->start(20);
}

// Closes the next message box once it is open, keeping its text in `text`.
void CloseNextMessageBox(QString& text) {
    OnNextModal([&text](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        QVERIFY(box != nullptr);
        text = box->text();
        box->accept();
    });
}

// Runs `act`, and tells whether a message box came up; it is closed, so that
// a failure fails instead of waiting for a click.
bool ShowsAMessageBox(const std::function<void()>& act) {
    bool shown = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&shown] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = true;
            box->accept();
        }
    });
    closer.start(20);
    act();
    return shown;
}

}  // namespace

// The Qt window's own part: its controls, geometry, keyboard, dialog,
// message box and bar. What the commands do is tested once for both windows,
// against fake controls (form_commands_test).
class Form1Test : public QObject {
    Q_OBJECT

  private slots:
    void init();
    void cleanup();

    void startsEmptyWithTheGivenGeometry();
    void tabOrderStartsAtBrowse();
    void browseThenParse();
    void parseWithoutBrowseShowsABusyBar();
    void aLargeRestoreIsSaidInTwoLinesThatFit();
    void failedParseShowsTheMessageAndKeepsTheOldScript();
    void browseWithTheRealFileDialog();
    void logsOfTheCommandLine();
    void droppedLogs();
    void aNameThatIsNotUtf8();
    void keyboardAlone();
    void barPaintsOnlyWhenItChangesAndAtAPace();

  private:
    template <class T>
    T* child(const char* name) {
        T* widget = form_->findChild<T*>(QString::fromLatin1(name));
        if (widget == nullptr) qFatal("no child %s", name);
        return widget;
    }
    void chooseNext(std::optional<QList<QUrl>> logs) {
        form_->setFileChooser([logs](QWidget*) { return logs; });
    }
    QString logPath(const char* name = "server.log") const {
        return QString::fromStdString((*dir_ / name).string());
    }
    QUrl logUrl(const char* name = "server.log") const {
        return QUrl::fromLocalFile(logPath(name));
    }
    // As the system gives the path.
    QByteArray logBytes(const char* name = "server.log") const {
        return QByteArray::fromStdString((*dir_ / name).native());
    }
    // old.log, modified an hour before server.log.
    void writeOlderLog() {
        WriteFile(dir_->path() / "old.log", "[t] <TS_RY>INT#gold#1#0#0#x#\r\n[t] end\r\n");
        std::filesystem::last_write_time(
            dir_->path() / "old.log",
            std::filesystem::last_write_time(dir_->path() / "server.log") - std::chrono::hours(1));
    }
    // The field of a set of old.log and server.log, read oldest first.
    QString setText() const {
        return QStringLiteral("\"%1\" \"%2\"").arg(logPath("old.log"), logPath());
    }

    std::unique_ptr<tsry::test::TempDir> dir_;
    std::filesystem::path previous_;
    std::unique_ptr<Form1> form_;
};

void Form1Test::init() {
    dir_ = std::make_unique<tsry::test::TempDir>();
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_->path());
    WriteFile(dir_->path() / "server.log", tsry::test::kWindowLog);
    form_ = std::make_unique<Form1>();
    form_->show();
    QApplication::setActiveWindow(form_.get());
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
}

void Form1Test::cleanup() {
    form_.reset();
    std::filesystem::current_path(previous_);
    dir_.reset();
}

void Form1Test::startsEmptyWithTheGivenGeometry() {
    QCOMPARE(form_->windowTitle(), QStringLiteral("PW Tessary Log Parser"));
    QCOMPARE(form_->size(), QSize(428, 122));
    QCOMPARE(form_->minimumSize(), form_->maximumSize());

    QCOMPARE(child<QLabel>("lblLogToParse")->text(), QStringLiteral("Log to Parse"));
    QCOMPARE(child<QLabel>("lblLogToParse")->geometry(), QRect(0, 0, 321, 25));
    QCOMPARE(child<QLineEdit>("txtImportFile")->text(), QString());
    QCOMPARE(child<QLineEdit>("txtImportFile")->geometry(), QRect(0, 24, 417, 25));
    QCOMPARE(child<QPushButton>("btnBrowse")->text(), QStringLiteral("Browse"));
    QCOMPARE(child<QPushButton>("btnBrowse")->geometry(), QRect(0, 48, 65, 25));
    QCOMPARE(child<QPushButton>("btnParse")->text(), QStringLiteral("Parse"));
    QCOMPARE(child<QPushButton>("btnParse")->geometry(), QRect(72, 48, 57, 25));
    QCOMPARE(child<QLabel>("lblInfo")->text(), QString());
    QCOMPARE(child<QLabel>("lblInfo")->geometry(), QRect(168, 48, 249, 33));
    QCOMPARE(child<QProgressBar>("ProgressBar")->geometry(), QRect(0, 88, 425, 25));
    QVERIFY(!child<QProgressBar>("ProgressBar")->isVisible());
    QVERIFY(!form_->lineCount().has_value());

    // Every caption fits its control.
    for (const char* name : {"btnBrowse", "btnParse"}) {
        auto* button = child<QPushButton>(name);
        QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) < button->width() - 8,
                 name);
    }
    auto* caption = child<QLabel>("lblLogToParse");
    QVERIFY(caption->fontMetrics().horizontalAdvance(caption->text()) < caption->width());
}

void Form1Test::tabOrderStartsAtBrowse() {
    QCOMPARE(QApplication::focusWidget(), child<QPushButton>("btnBrowse"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QLineEdit>("txtImportFile"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QPushButton>("btnParse"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QPushButton>("btnBrowse"));
}

void Form1Test::browseThenParse() {
    chooseNext(QList<QUrl>{logUrl()});
    QTest::mouseClick(child<QPushButton>("btnBrowse"), Qt::LeftButton);
    QCOMPARE(child<QLineEdit>("txtImportFile")->text(), logPath());
    QCOMPARE(child<QLabel>("lblInfo")->text(), QStringLiteral("5 records."));
    QCOMPARE(form_->lineCount(), std::optional<std::uint64_t>(5));

    BarWatcher watcher(child<QProgressBar>("ProgressBar"));
    QTest::mouseClick(child<QPushButton>("btnParse"), Qt::LeftButton);
    QCOMPARE(child<QLabel>("lblInfo")->text(),
             QStringLiteral("Parsing complete, tsry.nss created."));
    QCOMPARE(ReadFile(dir_->path() / "tsry.nss"), tsry::test::WindowLogScript());
    auto* info = child<QLabel>("lblInfo");
    QVERIFY(info->heightForWidth(info->width()) <= info->height());  // not clipped
    QCOMPARE(watcher.events, QStringList({"show", "hide"}));
    QVERIFY(!watcher.paintedValues.isEmpty());
    // 5 lines and 2 records of a range of 10 steps.
    QCOMPARE(child<QProgressBar>("ProgressBar")->value(), 700);
    QVERIFY(!child<QProgressBar>("ProgressBar")->isVisible());
    QCOMPARE(form_->progressCount(), 7u);
    // A picture of the window after a run, when asked for (make screenshot).
    if (const QByteArray dir = qgetenv("TSRY_SCREENSHOT_DIR"); !dir.isEmpty()) {
        QVERIFY(form_->grab().save(QString::fromLocal8Bit(dir) + "/after-parse.png"));
    }
    QCOMPARE(child<QLabel>("lblInfo")->toolTip(),
             QDir::toNativeSeparators(QDir(QDir::currentPath()).filePath("tsry.nss")));
}

void Form1Test::parseWithoutBrowseShowsABusyBar() {
    child<QLineEdit>("txtImportFile")->setText(logPath());
    BarWatcher watcher(child<QProgressBar>("ProgressBar"));
    QTest::mouseClick(child<QPushButton>("btnParse"), Qt::LeftButton);
    QCOMPARE(ReadFile(dir_->path() / "tsry.nss"), tsry::test::WindowLogScript());
    QVERIFY(!watcher.paintedMaximums.isEmpty());
    for (int maximum : watcher.paintedMaximums) QCOMPARE(maximum, 0);
    QCOMPARE(child<QLabel>("lblInfo")->text(),
             QStringLiteral("Parsing complete, tsry.nss created."));
}

void Form1Test::aLargeRestoreIsSaidInTwoLinesThatFit() {
    WriteFile(dir_->path() / "large.log", tsry::test::LargeRestoreLog());
    child<QLineEdit>("txtImportFile")->setText(logPath("large.log"));
    QTest::mouseClick(child<QPushButton>("btnParse"), Qt::LeftButton);
    QVERIFY(ReadFile(dir_->path() / "tsry.nss") == tsry::test::LargeRestoreScript());
    auto* info = child<QLabel>("lblInfo");
    QCOMPARE(info->text(), QStringLiteral("Parsing complete, tsry.nss created.\n"
                                          "In 3 parts, run one after another."));
    // Each line within the label's width, both within its height.
    for (const QString& line : info->text().split(QLatin1Char('\n'))) {
        QVERIFY2(info->fontMetrics().horizontalAdvance(line) <= info->width(), qPrintable(line));
    }
    QVERIFY(info->heightForWidth(info->width()) <= info->height());
    if (const QByteArray dir = qgetenv("TSRY_SCREENSHOT_DIR"); !dir.isEmpty()) {
        QVERIFY(form_->grab().save(QString::fromLocal8Bit(dir) + "/after-parse-parts.png"));
    }
}

void Form1Test::failedParseShowsTheMessageAndKeepsTheOldScript() {
    WriteFile(dir_->path() / "tsry.nss", "old script\r\n");
    WriteFile(dir_->path() / "bad.log", "a\r\nx<TS_RY>INT#gold#1#0#\r\n");
    chooseNext(QList<QUrl>{logUrl("bad.log")});
    QTest::mouseClick(child<QPushButton>("btnBrowse"), Qt::LeftButton);

    QString shown;
    CloseNextMessageBox(shown);
    QTest::mouseClick(child<QPushButton>("btnParse"), Qt::LeftButton);
    QVERIFY2(shown.startsWith(QString::fromStdString((dir_->path() / "bad.log").string()) +
                              QStringLiteral(":2: the record after <TS_RY> is cut short")),
             qPrintable(shown));
    QCOMPARE(ReadFile(dir_->path() / "tsry.nss"), std::string("old script\r\n"));
    QCOMPARE(dir_->Entries(), (std::vector<std::string>{"bad.log", "server.log", "tsry.nss"}));
    QCOMPARE(child<QLabel>("lblInfo")->text(), QStringLiteral("2 records."));
    QVERIFY(!child<QProgressBar>("ProgressBar")->isVisible());

    // Still usable: a good log converts.
    child<QLineEdit>("txtImportFile")->setText(logPath());
    QTest::mouseClick(child<QPushButton>("btnParse"), Qt::LeftButton);
    QCOMPARE(ReadFile(dir_->path() / "tsry.nss"), tsry::test::WindowLogScript());
}

void Form1Test::browseWithTheRealFileDialog() {
    form_->setFileChooser(&tsry::ChooseLogsWithDialog);
    bool sawDialog = false;
    OnNextModal([&](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog != nullptr);
        sawDialog = true;
        // Type the path into the dialog's name field and press its Open button.
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* buttons = dialog->findChild<QDialogButtonBox*>();
        QVERIFY(name != nullptr && buttons != nullptr);
        name->setText(logPath());
        QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>("btnBrowse"), Qt::LeftButton);
    QVERIFY(sawDialog);
    QCOMPARE(child<QLineEdit>("txtImportFile")->text(), logPath());
    QCOMPARE(child<QLabel>("lblInfo")->text(), QStringLiteral("5 records."));

    // Two logs picked at once: a set, oldest first.
    writeOlderLog();
    OnNextModal([this](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        QVERIFY(dialog != nullptr);
        dialog->setDirectory(QString::fromStdString(dir_->path().string()));
        dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(QStringLiteral("\"server.log\" \"old.log\""));
        QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Open),
                          Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>("btnBrowse"), Qt::LeftButton);
    QCOMPARE(child<QLineEdit>("txtImportFile")->text(), setText());
    QCOMPARE(child<QLabel>("lblInfo")->text(), QStringLiteral("7 records."));

    // And Cancel in the same dialog.
    OnNextModal([](QWidget* modal) { qobject_cast<QDialog*>(modal)->reject(); });
    QTest::mouseClick(child<QPushButton>("btnBrowse"), Qt::LeftButton);
    QCOMPARE(child<QLineEdit>("txtImportFile")->text(), setText());
    QCOMPARE(child<QLabel>("lblInfo")->text(), QStringLiteral("7 records."));
}

// What main does with the logs on its command line, once the window is up.
void Form1Test::logsOfTheCommandLine() {
    writeOlderLog();
    QVERIFY(!ShowsAMessageBox([this] { form_->UseLogs({logBytes(), logBytes("old.log")}); }));
    QCOMPARE(child<QLineEdit>("txtImportFile")->text(), setText());
    QCOMPARE(child<QLabel>("lblInfo")->text(), QStringLiteral("7 records."));
    QCOMPARE(form_->lineCount(), std::optional<std::uint64_t>(7));
    // A picture of the window with a long set in the field, when asked for.
    if (const QByteArray dir = qgetenv("TSRY_SCREENSHOT_DIR"); !dir.isEmpty()) {
        QVERIFY(form_->grab().save(QString::fromLocal8Bit(dir) + "/logs-set.png"));
    }
    form_->UseLogs({QByteArrayLiteral("server.log")});  // relative, as typed in a shell
    QCOMPARE(child<QLineEdit>("txtImportFile")->text(), QStringLiteral("server.log"));
    QCOMPARE(child<QLabel>("lblInfo")->text(), QStringLiteral("5 records."));
}

// Dropped on the window or on the path field alike.
void Form1Test::droppedLogs() {
    writeOlderLog();
    auto* const field = child<QLineEdit>("txtImportFile");
    const QPoint at = field->geometry().center();
    // Whether `urls` dropped on `target` are taken. File managers give their
    // text too, which the field alone would insert.
    const auto drop = [&at](QWidget* target, const QList<QUrl>& urls) {
        QMimeData mime;
        mime.setUrls(urls);
        mime.setText(urls.front().toString());
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        enter.setAccepted(false);
        QApplication::sendEvent(target, &enter);
        QDropEvent dropped(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        dropped.setAccepted(false);
        QApplication::sendEvent(target, &dropped);
        return enter.isAccepted() && dropped.isAccepted();
    };
    const QUrl local = QUrl::fromLocalFile(logPath());
    for (QWidget* target : {static_cast<QWidget*>(form_.get()), static_cast<QWidget*>(field)}) {
        field->clear();
        child<QLabel>("lblInfo")->clear();
        QVERIFY(!ShowsAMessageBox([&] {
            QVERIFY(drop(target, {local, QUrl::fromLocalFile(logPath("old.log"))}));
        }));
        QCOMPARE(field->text(), setText());
        QCOMPARE(child<QLabel>("lblInfo")->text(), QStringLiteral("7 records."));

        // What is not a local file is not taken, nor anything dropped with it.
        const QUrl web(QStringLiteral("https://example.org/server.log"));
        QVERIFY(!drop(target, {web}));
        QVERIFY(!drop(target, {local, web}));
        QCOMPARE(field->text(), setText());

        // A file on a share: the host stays in the path.
        QVERIFY(ShowsAMessageBox(
            [&] { QVERIFY(drop(target, {QUrl(QStringLiteral("file://server/share/x.log"))})); }));
        QCOMPARE(field->text(), QStringLiteral("//server/share/x.log"));
    }
}

// A name in Latin-1, not valid UTF-8: no QString gives its bytes back, yet
// it opens, counts and converts however it comes to the window.
void Form1Test::aNameThatIsNotUtf8() {
    const QByteArray log = logBytes("caf\xe9.log");
    WriteFile(log.toStdString(), tsry::test::kWindowLog);
    const QString shown = QFile::decodeName(log);
    QVERIFY(QFile::encodeName(shown) != log);
    // "caf%E9.log": a URL holds the bytes, as a file manager's drop or the
    // desktop's own file dialog gives them.
    const QUrl url = QUrl::fromEncoded("file://" + log.toPercentEncoding("/"));
    QMimeData mime;
    mime.setUrls({url});
    const char* const argv[] = {"tsry-log-parser", "--", log.constData()};
    const struct {
        const char* way;
        std::function<void()> give;
    } ways[] = {
        {"command line", [&] { form_->UseLogs(tsry::LogsOfCommandLine(3, argv)); }},
        {"drop",
         [&] {
             QDragEnterEvent enter({1, 1}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(form_.get(), &enter);
             QDropEvent drop({1, 1}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(form_.get(), &drop);
         }},
        {"Browse",
         [&] {
             chooseNext(QList<QUrl>{url});
             QTest::mouseClick(child<QPushButton>("btnBrowse"), Qt::LeftButton);
         }},
    };
    for (const auto& way : ways) {
        child<QLineEdit>("txtImportFile")->clear();
        child<QLabel>("lblInfo")->clear();
        std::filesystem::remove(dir_->path() / "tsry.nss");
        QVERIFY2(!ShowsAMessageBox(way.give), way.way);
        QVERIFY2(child<QLineEdit>("txtImportFile")->text() == shown, way.way);
        QCOMPARE(child<QLabel>("lblInfo")->text(), QStringLiteral("5 records."));
        QTest::mouseClick(child<QPushButton>("btnParse"), Qt::LeftButton);
        QCOMPARE(child<QLabel>("lblInfo")->text(),
                 QStringLiteral("Parsing complete, tsry.nss created."));
        QCOMPARE(ReadFile(dir_->path() / "tsry.nss"), tsry::test::WindowLogScript());
    }
    // The field edited names what it shows: Qt's text as the system's bytes.
    child<QLineEdit>("txtImportFile")->setText(logPath());
    QTest::mouseClick(child<QPushButton>("btnParse"), Qt::LeftButton);
    QCOMPARE(ReadFile(dir_->path() / "tsry.nss"), tsry::test::WindowLogScript());
    child<QLineEdit>("txtImportFile")->setText(shown);  // the same text again: the same bytes
    std::filesystem::remove(dir_->path() / "tsry.nss");
    QTest::mouseClick(child<QPushButton>("btnParse"), Qt::LeftButton);
    QCOMPARE(ReadFile(dir_->path() / "tsry.nss"), tsry::test::WindowLogScript());

    // The command line's logs, whatever their bytes; a first "--" ends the
    // options and is no log.
    const struct {
        std::vector<const char*> argv;
        QByteArrayList logs;
    } lines[] = {
        {{"tsry-log-parser"}, {}},
        {{"tsry-log-parser", "a.log", "caf\xe9.log", "-"}, {"a.log", "caf\xe9.log", "-"}},
        {{"tsry-log-parser", "--", "-x.log", "--"}, {"-x.log", "--"}},
        {{"tsry-log-parser", "a.log", "--", "b.log"}, {"a.log", "b.log"}},
    };
    for (const auto& line : lines) {
        QCOMPARE(tsry::LogsOfCommandLine(static_cast<int>(line.argv.size()), line.argv.data()),
                 line.logs);
    }
}

void Form1Test::keyboardAlone() {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClicks(QApplication::focusWidget(), logPath());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), child<QPushButton>("btnParse"));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QCOMPARE(ReadFile(dir_->path() / "tsry.nss"), tsry::test::WindowLogScript());
    QCOMPARE(child<QLabel>("lblInfo")->text(),
             QStringLiteral("Parsing complete, tsry.nss created."));
}

void Form1Test::barPaintsOnlyWhenItChangesAndAtAPace() {
    QWidget host;
    auto* bar = new QProgressBar(&host);
    bar->hide();
    host.show();
    QVERIFY(QTest::qWaitForWindowExposed(&host));
    BarWatcher watcher(bar);
    tsry::BarProgress progress(bar);
    progress.SetMinimum(0);
    progress.SetMaximum(1e6);
    progress.SetValue(0);
    progress.Show();
    const qsizetype atShow = watcher.paintedValues.size();
    QCOMPARE(atShow, 1);
    // A fast run: a thousand new values in far less than the interval.
    for (int i = 1; i <= 1000; ++i) progress.SetValue(i * 500.0);
    QCOMPARE(watcher.paintedValues.size(), atShow);
    QCOMPARE(bar->value(), 500);
    // A slow one: every change after the interval is shown at once...
    QTest::qWait(tsry::BarProgress::kPaintInterval + 10);
    progress.SetValue(600000);
    QCOMPARE(watcher.paintedValues.back(), 600);
    // ...but not a value that shows no change.
    QTest::qWait(tsry::BarProgress::kPaintInterval + 10);
    const qsizetype before = watcher.paintedValues.size();
    progress.SetValue(600000.5);
    QCOMPARE(watcher.paintedValues.size(), before);
    progress.Hide();
    QCOMPARE(watcher.events.back(), QStringLiteral("hide"));
}

int main(int argc, char** argv) {
    // Offscreen unless a platform is asked for (CI runs these under Xvfb too).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Qt's own file dialog, whatever the desktop, so that the test can drive it.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    Form1Test test;
    return QTest::qExec(&test, argc, argv);
}

#include "form1_test.moc"
