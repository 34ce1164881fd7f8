#pragma once

#include <QDialog>

class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace tintora {

// The modal dialog of a processing run: its log (never cleared, each run
// adds to it), its progress bar and "Cancel". "Cancel" asks the run to stop;
// its close box and Escape ask the run's owner (close_requested), so a run
// never goes on out of sight. The owner hides it with accept() when the run
// ends.
class ProgressDialog : public QDialog {
    Q_OBJECT
public:
    explicit ProgressDialog(QWidget* owner);

    void append_log(const QString& line);
    QString log_text() const;
    // The bar runs from 0 to maximum; a position past it shows as full.
    void set_progress_range(int maximum);
    void set_progress(int position);
    int progress() const;
    // The text on the bar: empty while the frames are processed, the stage
    // and its count while they are encoded.
    void set_stage_text(const QString& text);
    QString stage_text() const;

    // The close box and Escape: the dialog stays until the owner hides it.
    void reject() override;

signals:
    void cancel_requested();
    void close_requested();

private:
    QPlainTextEdit* log_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* cancel_button_ = nullptr;
};

}  // namespace tintora
