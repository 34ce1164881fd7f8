#pragma once

#include <QDialog>
#include <array>
#include <string>
#include <string_view>

#include "core/composition/panorama_choices.hpp"
#include "core/viewer/panorama_form.hpp"

class QComboBox;
class QLineEdit;

namespace tintora {

// Service › "Panorama…": the angles the background spans and the direction
// of its centre (an empty field keeps the default, shown in grey), the
// mesh's model and the hotspot's edge blend, filled in from the project's
// choices. OK closes only when every field is taken; else a message says
// what the first refused field takes and the dialog stays open. Cancel
// changes nothing.
class PanoramaDialog : public QDialog {
    Q_OBJECT
public:
    // The defaults are those of a background of width by height (0 by 0: none).
    PanoramaDialog(const PanoramaChoices& choices, int width, int height, std::string_view language,
                   QWidget* parent);

    // What the fields say, once OK has closed the dialog.
    const PanoramaChoices& chosen() const { return chosen_; }

    void accept() override;

private:
    PanoramaForm typed() const;

    std::string language_;
    PanoramaChoices chosen_;
    // Hfov, Vfov, Yaw, Pitch, EdgeBlend: PanoramaField order.
    std::array<QLineEdit*, 5> fields_{};
    QComboBox* model_list_ = nullptr;
};

}  // namespace tintora
