// vm-site: the static quick-look site over an archive's catalog (the
// calendar, a page per recording, the daily flux and the active regions).
// The work is done in site/; here is the command line.
#include <CLI/CLI.hpp>

#include <iostream>

#include "app/version.h"
#include "site/site.h"
#include "tools/command_line.h"

namespace {

constexpr int kBadUsage = 2;

const char* const kDescription =
    "Makes the static pages over an archive's catalog in the site's folder:\n"
    "  index.html           the calendar, each recording with its status\n"
    "  r/<key>/index.html   a recording's page, beside its products\n"
    "  series.html          the daily whole-Sun flux and the active regions\n"
    "Only files whose bytes change are written.\n"
    "Exit codes: 0 done, 1 the catalog could not be read or a file written,\n"
    "2 bad usage.";

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{kDescription, "vm-site"};
    app.set_version_flag("--version", VersionLine("vm-site"), "print the version and exit");
    SiteOptions options;
    app.add_option("--catalog", options.catalog, "the archive's catalog")->required()->type_name("FILE");
    app.add_option("--site", options.site, "the site's folder (made when missing)")->required()->type_name("DIR");
    app.add_option("--frequency", options.frequencies, "frequencies of the daily flux [GHz]; default 1.4 2.8 5.7")
        ->expected(1, -1)
        ->check(CLI::Range(0.001, 1000.0))
        ->type_name("GHZ");
    if (const int code = ParseCommandLine(app, argc, argv, kBadUsage); code >= 0) return code;
    SiteReport report;
    std::string error;
    if (!BuildSite(options, report, error)) {
        std::cerr << "vm-site: " << error << "\n";
        return 1;
    }
    for (const std::string& note : report.notes) std::cerr << "vm-site: " << note << "\n";
    std::cerr << "vm-site: " << report.pages << " pages, " << report.written << " written\n";
    return 0;
}
