#pragma once

#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "window/form_commands.h"

class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace tsry {

class BarProgress;

// The program's one window: the path of the log, Browse to choose and count
// it, Parse to convert it into tsry.nss, a progress bar and a status line.
// What the two commands do is FormCommands'; this is their Qt controls.
class Form1 : public QWidget, private FormControls {
    Q_OBJECT

  public:
    // Asks the user for a log; an empty optional when the user cancels.
    using FileChooser = std::function<std::optional<QString>(QWidget* parent)>;

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
    // Browse: choose a log, show its path and its line count.
    void CountLogLines();
    // Parse: convert the log named in the path field.
    void ParseLog();

  private:
    void createControls();
    void placeControls();
    void connectControls();

    // FormControls
    std::optional<std::string> ChooseLog() override;
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
    FormCommands commands_{*this};
};

// The default chooser: the platform's open-file dialog, at its defaults.
std::optional<QString> ChooseLogWithDialog(QWidget* parent);

}  // namespace tsry
