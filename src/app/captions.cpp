#include "app/captions.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>

namespace tintora {

QString to_qstring(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

void apply_captions(const std::vector<Caption>& captions, bool russian) {
    for (const Caption& caption : captions) {
        const QString text = to_qstring(russian ? caption.text.rus : caption.text.eng);
        QObject* control = caption.control;
        if (auto* menu = qobject_cast<QMenu*>(control)) {
            menu->setTitle(text);
        } else if (auto* action = qobject_cast<QAction*>(control)) {
            action->setText(text);
        } else if (auto* group = qobject_cast<QGroupBox*>(control)) {
            group->setTitle(text);
        } else if (auto* label = qobject_cast<QLabel*>(control)) {
            label->setText(text);
        } else if (auto* button = qobject_cast<QAbstractButton*>(control)) {
            button->setText(text);
        } else if (auto* window = qobject_cast<QWidget*>(control)) {
            window->setWindowTitle(text);
        }
    }
}

}  // namespace tintora
