#pragma once
// The maker's web pages behind the toolbar's link buttons. Kept here, in one place, so that a
// deployment can point them elsewhere.

#include <string_view>

namespace vantrel::workflows::web_links {

// One page of the maker's site, chosen by the query keys id and cate.
inline constexpr std::string_view kNews =
    "https://www.vantrel.example/index.php?id=news&cate=soft_news";
inline constexpr std::string_view kHelp =
    "https://www.vantrel.example/index.php?id=news&cate=soft_help";
inline constexpr std::string_view kStore = "https://shop.vantrel.example/";
inline constexpr std::string_view kCustomerService = "https://chat.vantrel.example/service";

} // namespace vantrel::workflows::web_links
