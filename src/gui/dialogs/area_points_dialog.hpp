#pragma once

#include <QDialog>
#include <array>
#include <string>
#include <string_view>

#include "core/composition/mesh_drag.hpp"

class QLineEdit;

namespace tintora {

// Edit > "Area points…": the nine area points as numbers in background
// pixels, a row each, filled in from the grid. OK closes only when every
// field lies on the background; else a message names the first field that
// does not and the dialog stays open. Cancel changes nothing.
class AreaPointsDialog : public QDialog {
    Q_OBJECT
public:
    AreaPointsDialog(const CorrectionGrid& grid, AreaBounds bounds, std::string_view language,
                     QWidget* parent);

    // What the fields hold.
    TypedAreaPoints typed() const;

    void accept() override;

private:
    AreaBounds bounds_;
    std::string language_;
    std::array<QLineEdit*, kGridPointCount> x_fields_{};
    std::array<QLineEdit*, kGridPointCount> y_fields_{};
};

// "5 (centre)": how the dialog and its messages name point p.
QString area_point_name(int p, bool russian);

}  // namespace tintora
