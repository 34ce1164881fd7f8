#include "app/options_dialog.hpp"

namespace tintora {

OptionsDialog::OptionsDialog(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("optionsDialog"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Options"));
}

}  // namespace tintora
