#include "site/site.h"

std::string RecordingSiteFolder(const std::string& header) { return "r/" + header; }

bool BuildSite(const SiteOptions&, SiteReport&, std::string& error) {
    error = "not made yet";
    return false;
}
