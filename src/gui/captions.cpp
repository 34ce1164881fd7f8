#include "gui/captions.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

namespace tintora {

QString to_qstring(std::string_view utf8) {
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

namespace {

void mark_first_free_letters(const QList<QAction*>& actions) {
    QList<QChar> taken;
    for (QAction* action : actions) {
        if (action->isSeparator()) continue;
        QString text = action->text();
        text.remove(QLatin1Char('&'));
        for (qsizetype i = 0; i < text.size(); ++i) {
            const QChar letter = text.at(i).toLower();
            if (!letter.isLetterOrNumber() || taken.contains(letter)) continue;
            taken.append(letter);
            text.insert(i, QLatin1Char('&'));
            break;
        }
        action->setText(text);
    }
}

}  // namespace

void give_mnemonics(QMenuBar* bar) {
    mark_first_free_letters(bar->actions());
    for (QAction* item : bar->actions()) {
        if (QMenu* menu = item->menu()) mark_first_free_letters(menu->actions());
    }
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

void apply_hints(const std::vector<Hint>& hints, bool russian) {
    for (const Hint& hint : hints) {
        hint.control->setToolTip(to_qstring(russian ? hint.text.rus : hint.text.eng));
    }
}

}  // namespace tintora
