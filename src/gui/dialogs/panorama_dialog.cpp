#include "gui/dialogs/panorama_dialog.hpp"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "core/viewer/viewer_texts.hpp"
#include "gui/captions.hpp"

namespace tintora {
namespace {

// Room for "-123.456789": more than any angle needs.
constexpr int kFieldChars = 11;

}  // namespace

PanoramaDialog::PanoramaDialog(const PanoramaChoices& choices, int width, int height,
                               std::string_view language, QWidget* parent)
    : QDialog(parent), language_(language), chosen_(choices) {
    using namespace viewer_texts;
    setObjectName(QStringLiteral("panoramaDialog"));
    const auto text = [language](const TextPair& pair) {
        return to_qstring(main_window_text(pair, language));
    };
    setWindowTitle(text(kPanoramaCaption));

    const PanoramaForm form = panorama_form(choices);
    const std::array<std::string, 4> defaults = default_angle_texts(width, height);
    struct FieldRow {
        const char* name;
        const TextPair& label;
        const std::string& value;
    };
    const FieldRow rows[] = {{"hfovField", kHfovLabel, form.hfov},
                             {"vfovField", kVfovLabel, form.vfov},
                             {"yawField", kYawLabel, form.yaw},
                             {"pitchField", kPitchLabel, form.pitch},
                             {"edgeBlendField", kEdgeBlendLabel, form.edge_blend}};
    model_list_ = new QComboBox(this);
    model_list_->setObjectName(QStringLiteral("meshModelList"));
    for (const TextPair& model : kMeshModels) model_list_->addItem(text(model));
    model_list_->setCurrentIndex(static_cast<int>(form.mesh_model));
    // One column: the fields as wide as the list's longest model.
    const int column_width =
        std::max(fontMetrics().horizontalAdvance(QLatin1Char('0')) * kFieldChars + 12,
                 model_list_->sizeHint().width());
    model_list_->setFixedWidth(column_width);
    auto* table = new QFormLayout;
    for (std::size_t i = 0; i < fields_.size(); ++i) {
        // The model's list sits between the angles and the edge blend.
        if (i + 1 == fields_.size()) table->addRow(text(kMeshModelLabel), model_list_);
        auto* field = new QLineEdit(QString::fromStdString(rows[i].value), this);
        field->setObjectName(QString::fromLatin1(rows[i].name));
        field->setAlignment(Qt::AlignRight);
        field->setFixedWidth(column_width);
        if (i < defaults.size()) field->setPlaceholderText(QString::fromStdString(defaults[i]));
        fields_[i] = field;
        table->addRow(text(rows[i].label), field);
    }
    auto* note = new QLabel(text(kDefaultsNote));
    note->setWordWrap(true);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(text(area_point_texts::kOk));
    buttons->button(QDialogButtonBox::Cancel)->setText(text(area_point_texts::kCancel));
    connect(buttons, &QDialogButtonBox::accepted, this, &PanoramaDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &PanoramaDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(table);
    layout->addWidget(note);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // The note wraps at the table's width, not at a line of its own.
    note->setFixedWidth(table->sizeHint().width());
}

PanoramaForm PanoramaDialog::typed() const {
    const auto field = [this](PanoramaField f) {
        return fields_[static_cast<std::size_t>(f)]->text().toStdString();
    };
    return {field(PanoramaField::Hfov),
            field(PanoramaField::Vfov),
            field(PanoramaField::Yaw),
            field(PanoramaField::Pitch),
            static_cast<MeshModel>(model_list_->currentIndex()),
            field(PanoramaField::EdgeBlend)};
}

void PanoramaDialog::accept() {
    const PanoramaReading reading = read_panorama_form(typed(), language_);
    if (!reading.refused) {
        chosen_ = reading.choices;
        QDialog::accept();
        return;
    }
    // A message box's language, as every message of the program.
    QMessageBox::warning(this, QStringLiteral("Tintora"), QString::fromStdString(reading.message));
    QLineEdit* field = fields_[static_cast<std::size_t>(*reading.refused)];
    field->setFocus();
    field->selectAll();
}

}  // namespace tintora
