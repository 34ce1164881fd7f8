#pragma once

#include <QDialog>

namespace tintora {

// The options dialog: the paths of ffmpeg, ffplay and the working folder. Modal.
class OptionsDialog : public QDialog {
    Q_OBJECT
public:
    explicit OptionsDialog(QWidget* owner);
};

}  // namespace tintora
