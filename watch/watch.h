// vm-batch --watch: the recordings of an archive converted as they arrive.
// A recording is converted once it is complete (its header, its marker file
// and both sample files of every channel its header enables are there) and
// none of its files has changed for the settling time; never half-written.
// After each conversion its products are made and its entry goes into the
// catalog, and the site is brought up to date. The manifest carries the
// watch across a restart: what arrived while it was down is converted, what
// was converted is not again. A stop (SIGTERM, SIGINT) lets a running
// conversion finish and leaves no half-written output.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "site/site.h"

// Whether a recording is complete, and what it still lacks ("no marker
// file", "no ar3"). A header that cannot be read lacks nothing it could
// name: once settled, its conversion fails and says why.
struct Completeness {
    bool complete = false;
    std::string missing;
};
Completeness RecordingCompleteness(const std::string& archive, const Recording& recording);

// A recording seen incomplete or still changing: its files' stamps as last
// seen and since when (seconds on a steady clock) they have not changed.
struct Settling {
    std::vector<FileStamp> stamps;
    double since = 0.0;
};

// Whether `recording` has settled by `now`: complete, and its stamps the same
// as `settling` has seen for at least `settleSeconds` (a change starts the
// time anew). `settling` is updated.
bool HasSettled(const Recording& recording, const Completeness& completeness, double now, double settleSeconds,
                Settling& settling);

// Whether the manifest's `entry` already stands for the recording as it is
// now: a finished conversion of the same input files, either converted with
// its outputs in place or failed (a failure is not tried again until an
// input changes).
bool AlreadyHandled(const ManifestEntry& entry, const Recording& recording, const std::string& outputFolder);

struct WatchOptions {
    double settleSeconds = 5.0;
    // A recording that stays incomplete and unchanged this long is converted
    // as it is (its conversion warns of what is missing).
    double incompleteSeconds = 600.0;
    bool poll = false;          // look every `pollSeconds` instead of being told by inotify
    double pollSeconds = 1.0;
    SiteOptions site;           // site.catalog is the batch's catalog
};

// The batch's catalog entry by way of the site: the recording's products made
// into its folder of the site (MakeRecordingProducts) and the entry from the
// same calibration added.
bool EnterWithProducts(const std::string& site, Catalog& catalog, const CatalogInput& input, std::string& error);

// vm-batch ARCHIVE OUTPUT --catalog FILE --site DIR: a batch run whose
// recordings get their products, then the site. Returns the run's exit code.
int RunBatchWithSite(BatchOptions options, const SiteOptions& site, BatchStreams& io);

// Watches until stopped (`*io.stop`); returns vm-batch's exit code: 0 when
// stopped, 2 when the watch could not start.
int RunWatch(BatchOptions options, const WatchOptions& watch, BatchStreams& io);
