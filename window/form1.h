#pragma once

#include <QByteArrayList>
#include <QList>
#include <QString>
#include <QUrl>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "window/form_commands.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace tsry {

class BarProgress;

// The program's one window: the paths of the logs, Browse to choose and count
// them, Parse to convert them into tsry.nss, a progress bar and a status line;
// logs dropped on it are used as Browse uses the logs chosen. What the
// commands do is FormCommands'; this is their Qt controls.
//
// Paths go to the engine as the system's bytes (Qt's local 8-bit file names),
// never through UTF-8 text: a name that is not valid UTF-8 (Latin-1, as older
// servers and copies from Windows shares leave them) has no QString that
// gives its bytes back, so the window keeps the bytes of the paths it shows
// beside the text it shows for them.
class Form1 : public QWidget, private FormControls {
    Q_OBJECT

  public:
    // Asks the user for logs, as local file URLs, which hold a name's bytes
    // whatever they are; an empty optional when the user cancels.
    using FileChooser = std::function<std::optional<QList<QUrl>>(QWidget* parent)>;

    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

    // Replaces the open-file dialog, for tests and embedders.
    void setFileChooser(FileChooser chooser);

    // The line count of the last Browse; empty until the first one succeeds.
    [[nodiscard]] std::optional<std::uint64_t> lineCount() const noexcept {
        return commands_.lineCount();
    }
    // The last step count of the last Parse.
    [[nodiscard]] std::uint64_t progressCount() const noexcept;

  public slots:
    // Browse: choose logs, show their paths and their line count.
    void CountLogLines();
    // Shows logs as Browse shows the logs chosen: those given on the command
    // line, or dropped on the window; their paths as the system's bytes.
    void UseLogs(const QByteArrayList& paths);
    // Parse: convert the log named in the path field.
    void ParseLog();

  protected:
    // Logs dragged over the window are taken, whatever else is dragged not.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Files dragged over the path field are the window's, not text for it.
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void createControls();
    void placeControls();
    void connectControls();

    // FormControls
    std::optional<std::vector<std::string>> ChooseLogs() override;
    [[nodiscard]] std::string PathText() const override;
    void SetPathText(std::string_view text) override;
    void SetStatus(std::string_view text) override;
    void SetStatusTip(std::string_view text) override;
    ProgressSink& Bar() override;
    void ShowError(std::string_view message) override;

    QLabel* lblLogToParse_ = nullptr;
    QLineEdit* txtImportFile_ = nullptr;
    QPushButton* btnBrowse_ = nullptr;
    QPushButton* btnParse_ = nullptr;
    QLabel* lblInfo_ = nullptr;
    QProgressBar* progressBar_ = nullptr;

    std::unique_ptr<BarProgress> progress_;
    FileChooser chooser_;
    // The bytes of the paths the field shows, and the text shown for them:
    // the field's text names those bytes until it is edited.
    QByteArray shownBytes_;
    QString shownText_;
    FormCommands commands_{*this};
};

// The default chooser: the platform's open-file dialog at its defaults, where
// several files can be picked.
std::optional<QList<QUrl>> ChooseLogsWithDialog(QWidget* parent);

// A local file's path from its URL, as the system's bytes: those the URL's
// percent-encoding holds, whatever they are.
[[nodiscard]] QByteArray LocalFileName(const QUrl& url);

// The logs on a command line that QApplication has taken its own options out
// of, and that QCommandLineParser found no other option in: every argument
// after the program's name but a first "--", as the system's bytes (the
// parser's text holds only valid UTF-8).
[[nodiscard]] QByteArrayList LogsOfCommandLine(int argc, const char* const* argv);

}  // namespace tsry
