#include "window/form1.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QUrl>
#include <string_view>

#include "window/bar_progress.h"

namespace tsry {

namespace {

// The window was laid out in twips; at 15 twips a pixel it keeps its size on a
// 96 dpi screen, and Qt scales device-independent pixels on denser ones.
constexpr int Twips(int twips) { return twips / 15; }

QRect TwipsRect(int left, int top, int width, int height) {
    return {Twips(left), Twips(top), Twips(width), Twips(height)};
}

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// The local files among what is dragged: every one, or none if anything else
// comes with them.
QByteArrayList DroppedLogs(const QMimeData* data) {
    QByteArrayList paths;
    if (data == nullptr || !data->hasUrls()) return paths;
    for (const QUrl& url : data->urls()) {
        if (!url.isLocalFile()) return {};
        paths << LocalFileName(url);
    }
    return paths;
}

std::vector<std::string> Paths(const QByteArrayList& paths) {
    std::vector<std::string> logs;
    logs.reserve(static_cast<std::size_t>(paths.size()));
    for (const QByteArray& path : paths) logs.push_back(path.toStdString());
    return logs;
}

}  // namespace

std::optional<QList<QUrl>> ChooseLogsWithDialog(QWidget* parent) {
    QList<QUrl> logs =
        QFileDialog::getOpenFileUrls(parent, {}, {}, {}, nullptr, {}, {QStringLiteral("file")});
    if (logs.isEmpty()) return std::nullopt;
    return logs;
}

QByteArray LocalFileName(const QUrl& url) {
    // A host names a share: Qt writes it as "//host/path".
    if (!url.host().isEmpty()) return QFile::encodeName(url.toLocalFile());
    return QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
}

QByteArrayList LogsOfCommandLine(int argc, const char* const* argv) {
    QByteArrayList logs;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        if (!optionsEnded && std::string_view(argv[i]) == "--") {
            optionsEnded = true;
            continue;
        }
        logs << QByteArray(argv[i]);
    }
    return logs;
}

Form1::Form1(QWidget* parent) : QWidget(parent), chooser_(&ChooseLogsWithDialog) {
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(tr("PW Tessary Log Parser"));
    setFixedSize(Twips(6420), Twips(1830));
    setAcceptDrops(true);
    createControls();
    placeControls();
    connectControls();
    progress_ = std::make_unique<BarProgress>(progressBar_);
}

Form1::~Form1() = default;

void Form1::setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

std::uint64_t Form1::progressCount() const noexcept { return progress_->progressCount(); }

void Form1::createControls() {
    lblLogToParse_ = new QLabel(tr("Log to Parse"), this);
    lblLogToParse_->setObjectName(QStringLiteral("lblLogToParse"));

    txtImportFile_ = new QLineEdit(this);
    txtImportFile_->setObjectName(QStringLiteral("txtImportFile"));
    txtImportFile_->installEventFilter(this);
    lblLogToParse_->setBuddy(txtImportFile_);

    btnBrowse_ = new QPushButton(tr("Browse"), this);
    btnBrowse_->setObjectName(QStringLiteral("btnBrowse"));

    btnParse_ = new QPushButton(tr("Parse"), this);
    btnParse_->setObjectName(QStringLiteral("btnParse"));

    lblInfo_ = new QLabel(this);
    lblInfo_->setObjectName(QStringLiteral("lblInfo"));
    lblInfo_->setWordWrap(true);
    lblInfo_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    progressBar_ = new QProgressBar(this);
    progressBar_->setObjectName(QStringLiteral("ProgressBar"));
    progressBar_->setRange(0, BarProgress::kResolution);
    progressBar_->setTextVisible(false);
    progressBar_->hide();
}

void Form1::placeControls() {
    lblLogToParse_->setGeometry(TwipsRect(0, 0, 4815, 375));
    txtImportFile_->setGeometry(TwipsRect(0, 360, 6255, 375));
    btnBrowse_->setGeometry(TwipsRect(0, 720, 975, 375));
    btnParse_->setGeometry(TwipsRect(1080, 720, 855, 375));
    lblInfo_->setGeometry(TwipsRect(2520, 720, 3735, 495));
    progressBar_->setGeometry(TwipsRect(0, 1320, 6375, 375));

    // Browse first, then the path field, then Parse; the labels and the bar
    // take no focus.
    setTabOrder(btnBrowse_, txtImportFile_);
    setTabOrder(txtImportFile_, btnParse_);
    btnBrowse_->setFocus();
}

void Form1::connectControls() {
    connect(btnBrowse_, &QPushButton::clicked, this, &Form1::CountLogLines);
    connect(btnParse_, &QPushButton::clicked, this, &Form1::ParseLog);
}

void Form1::CountLogLines() { commands_.CountLogLines(); }

void Form1::ParseLog() { commands_.ParseLog(); }

void Form1::UseLogs(const QByteArrayList& paths) { commands_.UseLogs(Paths(paths)); }

void Form1::dragEnterEvent(QDragEnterEvent* event) {
    if (!DroppedLogs(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event) {
    const QByteArrayList paths = DroppedLogs(event->mimeData());
    if (paths.isEmpty()) return;
    event->acceptProposedAction();
    UseLogs(paths);
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    // The field would take what is dropped as text, a file as its URL: what
    // holds URLs is the window's drop, taken or refused as on the window.
    // Text alone is still the field's.
    if (watched != txtImportFile_) return QWidget::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (drop->mimeData() == nullptr || !drop->mimeData()->hasUrls()) return false;
            drop->ignore();
            if (event->type() == QEvent::Drop) {
                dropEvent(drop);
            } else if (!DroppedLogs(drop->mimeData()).isEmpty()) {
                drop->acceptProposedAction();
            }
            return true;
        }
        default:
            return QWidget::eventFilter(watched, event);
    }
}

std::optional<std::vector<std::string>> Form1::ChooseLogs() {
    const std::optional<QList<QUrl>> chosen = chooser_(this);
    if (!chosen) return std::nullopt;
    QByteArrayList paths;
    for (const QUrl& url : *chosen) paths << LocalFileName(url);
    return Paths(paths);
}

std::string Form1::PathText() const {
    const QString text = txtImportFile_->text();
    return (text == shownText_ ? shownBytes_ : QFile::encodeName(text)).toStdString();
}

void Form1::SetPathText(std::string_view text) {
    shownBytes_ = QByteArray(text.data(), static_cast<qsizetype>(text.size()));
    shownText_ = QFile::decodeName(shownBytes_);
    txtImportFile_->setText(shownText_);
}

void Form1::SetStatus(std::string_view text) { lblInfo_->setText(FromUtf8(text)); }

void Form1::SetStatusTip(std::string_view text) { lblInfo_->setToolTip(FromUtf8(text)); }

ProgressSink& Form1::Bar() { return *progress_; }

void Form1::ShowError(std::string_view message) {
    QMessageBox::critical(this, windowTitle(), FromUtf8(message));
}

}  // namespace tsry
