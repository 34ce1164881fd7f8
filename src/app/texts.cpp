#include "app/texts.hpp"

namespace tintora {

std::string_view message_text(const TextPair& text, std::string_view language) {
    return language == "eng" ? text.eng : text.rus;
}

std::string_view main_window_text(const TextPair& text, std::string_view language) {
    return language == "rus" ? text.rus : text.eng;
}

std::string help_page_url(std::string_view language) {
    return std::string(kVendorSite) + (language == "rus" ? "/help/tintora" : "/eng/help/tintora");
}

std::string krpano_services_url() { return std::string(kVendorSite) + "/services/krpano/"; }

}  // namespace tintora
