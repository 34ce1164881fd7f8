#pragma once

#include <QDialog>

namespace tintora {

// The modal dialog that shows a processing run's log and progress.
class ProgressDialog : public QDialog {
    Q_OBJECT
public:
    explicit ProgressDialog(QWidget* owner);
};

}  // namespace tintora
