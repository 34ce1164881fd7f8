#include "app/about_box.hpp"

namespace tintora {

AboutBox::AboutBox(QWidget* owner) : QDialog(owner) {
    setObjectName(QStringLiteral("aboutBox"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("About program"));
}

}  // namespace tintora
