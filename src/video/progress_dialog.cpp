#include "video/progress_dialog.hpp"

namespace tintora {

ProgressDialog::ProgressDialog(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("progressDialog"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Processing"));
    setFixedSize(790, 242);
}

}  // namespace tintora
