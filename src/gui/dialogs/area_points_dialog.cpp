#include "gui/dialogs/area_points_dialog.hpp"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include "gui/captions.hpp"

namespace tintora {
namespace {

// Room for seven digits: wider than any panorama.
constexpr int kFieldChars = 8;

}  // namespace

QString area_point_name(int p, bool russian) {
    const TextPair& name = area_point_texts::kPointNames[p];
    return QString::number(p + 1) + QStringLiteral(" (") +
           to_qstring(russian ? name.rus : name.eng) + QStringLiteral(")");
}

AreaPointsDialog::AreaPointsDialog(const CorrectionGrid& grid, AreaBounds bounds,
                                   std::string_view language, QWidget* parent)
    : QDialog(parent), bounds_(bounds), language_(language) {
    using namespace area_point_texts;
    setObjectName(QStringLiteral("areaPointsDialog"));
    const auto text = [language](const TextPair& pair) {
        return to_qstring(main_window_text(pair, language));
    };
    setWindowTitle(text(kCaption));

    auto* table = new QGridLayout;
    table->addWidget(new QLabel(text(kPointHeader)), 0, 0);
    table->addWidget(new QLabel(QStringLiteral("X")), 0, 1, Qt::AlignHCenter);
    table->addWidget(new QLabel(QStringLiteral("Y")), 0, 2, Qt::AlignHCenter);
    const TypedAreaPoints typed = typed_area_points(grid);
    const auto make_field = [this](const std::string& value, const QString& name) {
        auto* field = new QLineEdit(QString::fromStdString(value), this);
        field->setObjectName(name);
        field->setAlignment(Qt::AlignRight);
        field->setFixedWidth(
            field->fontMetrics().horizontalAdvance(QLatin1Char('0')) * kFieldChars + 12);
        return field;
    };
    for (int p = 0; p < kGridPointCount; ++p) {
        const QString number = QString::number(p + 1);
        x_fields_[p] = make_field(typed.x[p], QStringLiteral("pointX") + number);
        y_fields_[p] = make_field(typed.y[p], QStringLiteral("pointY") + number);
        table->addWidget(new QLabel(area_point_name(p, language == "rus")), p + 1, 0);
        table->addWidget(x_fields_[p], p + 1, 1);
        table->addWidget(y_fields_[p], p + 1, 2);
    }
    // The point at hand is the one most likely typed.
    x_fields_[grid.current_point()]->setFocus();
    x_fields_[grid.current_point()]->selectAll();

    auto* note = new QLabel(QString::fromStdString(
        fill_in(main_window_text(kBoundsNote, language),
                {std::to_string(bounds.width - 1), std::to_string(bounds.height - 1)})));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(text(kOk));
    buttons->button(QDialogButtonBox::Cancel)->setText(text(kCancel));
    connect(buttons, &QDialogButtonBox::accepted, this, &AreaPointsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &AreaPointsDialog::reject);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(table);
    layout->addWidget(note);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

TypedAreaPoints AreaPointsDialog::typed() const {
    TypedAreaPoints typed;
    for (int p = 0; p < kGridPointCount; ++p) {
        typed.x[p] = x_fields_[p]->text().toStdString();
        typed.y[p] = y_fields_[p]->text().toStdString();
    }
    return typed;
}

void AreaPointsDialog::accept() {
    const std::optional<AreaPointField> refused = first_refused_field(typed(), bounds_);
    if (!refused) {
        QDialog::accept();
        return;
    }
    using namespace area_point_texts;
    const int largest = (refused->y ? bounds_.height : bounds_.width) - 1;
    // A message box's language, as every message of the program.
    const std::string message =
        fill_in(message_text(refused->y ? kRefusedY : kRefusedX, language_),
                {area_point_name(refused->point, language_ != "eng").toStdString(),
                 std::to_string(largest)});
    QMessageBox::warning(this, QStringLiteral("Tintora"), QString::fromStdString(message));
    QLineEdit* field = (refused->y ? y_fields_ : x_fields_)[refused->point];
    field->setFocus();
    field->selectAll();
}

}  // namespace tintora
