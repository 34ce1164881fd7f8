#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace tintora {

// One user-visible text in both interface languages (UTF-8).
struct TextPair {
    std::string_view eng;
    std::string_view rus;
};

// Message boxes and the windows that follow the language by polling show
// English only for exactly "eng" and Russian for anything else.
std::string_view message_text(const TextPair& text, std::string_view language);
// The main window shows Russian only for exactly "rus" and English otherwise.
std::string_view main_window_text(const TextPair& text, std::string_view language);

// The format with each "%i", "%g" or "%s" replaced by the next value, in order.
std::string fill_in(std::string_view format, std::initializer_list<std::string> values);

}  // namespace tintora
