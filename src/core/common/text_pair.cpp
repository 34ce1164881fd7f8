#include "core/common/text_pair.hpp"

namespace tintora {

std::string_view message_text(const TextPair& text, std::string_view language) {
    return language == "eng" ? text.eng : text.rus;
}

std::string_view main_window_text(const TextPair& text, std::string_view language) {
    return language == "rus" ? text.rus : text.eng;
}

std::string fill_in(std::string_view format, std::initializer_list<std::string> values) {
    std::string text;
    auto value = values.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        const bool placeholder =
            format[i] == '%' && i + 1 < format.size() &&
            (format[i + 1] == 'i' || format[i + 1] == 'g' || format[i + 1] == 's');
        if (placeholder && value != values.end()) {
            text += *value++;
            ++i;
        } else {
            text += format[i];
        }
    }
    return text;
}

}  // namespace tintora
