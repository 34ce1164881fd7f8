#pragma once

#include <QObject>

class QMenuBar;
class QWidget;
#include <QString>
#include <string_view>
#include <vector>

#include "core/settings/texts.hpp"
#include "core/video/video_texts.hpp"

namespace tintora {

QString to_qstring(std::string_view utf8);

// A control whose caption follows the interface language.
struct Caption {
    QObject* control;  // a menu, an action, a group box, a label, a button or a window
    TextPair text;
};

// Sets each control's caption to its Russian or English text.
void apply_captions(const std::vector<Caption>& captions, bool russian);

// A control whose hint (tooltip) follows the interface language.
struct Hint {
    QWidget* control;
    TextPair text;
};
void apply_hints(const std::vector<Hint>& hints, bool russian);

// Gives the menus of the bar and their items Alt+letter keys: the first
// letter of each text not yet taken in its menu is marked. Call after the
// texts are set; the texts read as before.
void give_mnemonics(QMenuBar* bar);

}  // namespace tintora
