#pragma once

#include <QDialog>

namespace tintora {

// The about box: product, version and the product-update link. Modal.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    explicit AboutBox(QWidget* owner);
};

}  // namespace tintora
