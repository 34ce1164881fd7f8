#include "core/settings/texts.hpp"

namespace tintora {

std::string help_page_url(std::string_view language) {
    return std::string(kVendorSite) + (language == "rus" ? "/help/tintora" : "/eng/help/tintora");
}

}  // namespace tintora
