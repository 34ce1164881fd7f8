#pragma once

#include <QDialog>
#include <string_view>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

namespace tintora {

class Program;

// The options dialog: the paths of ffmpeg, ffplay and the working folder,
// views of the program's settings. Modal. Its timer turns the working-folder
// list's two items into folders every second, also while it is hidden.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 686;
    static constexpr int kClientHeight = 235;

    OptionsDialog(Program& program, QWidget* owner);

    // One tick of the timer: the list's choice becomes work_dir, and the
    // list shows work_dir.
    void follow_work_dir_choice();

    // "OK": takes the fields that pass their checks, in order, and closes
    // when all three do; else tells the user what is wrong.
    void take_fields();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void browse(QLineEdit* field, std::string_view default_name);
    void apply_language();

    Program& program_;
    QLineEdit* ffmpeg_field_ = nullptr;
    QLineEdit* ffplay_field_ = nullptr;
    QComboBox* work_dir_list_ = nullptr;
    QLabel* work_dir_label_ = nullptr;
    QPushButton* ffmpeg_browse_ = nullptr;
    QPushButton* ffplay_browse_ = nullptr;
    QLabel* download_hint_ = nullptr;
    QLabel* download_link_ = nullptr;
    QPushButton* ok_button_ = nullptr;
    QPushButton* exit_button_ = nullptr;
    QTimer* timer_ = nullptr;
};

}  // namespace tintora
