// vm-batch's entries in the archive's catalog (--catalog, --rebuild-catalog):
// each recording's entry made from what its manifest line records, so that a
// run and a rebuild from the outputs give the same entries.
#pragma once

#include <ostream>
#include <string>

#include "batch/discovery.h"
#include "batch/manifest.h"
#include "catalog/catalog.h"

// The entry of a recording whose conversion `entry` records (a finished
// one: converted when it ended with 1 and wrote a scan index, else failed
// with its status line as the reason). `archive` and `output` are full paths.
CatalogInput CatalogInputOfConversion(const std::string& archive, const std::string& output, const Recording& r,
                                      const ManifestEntry& entry);

// The entry of a recording that could not be converted at all, for `reason`.
CatalogInput CatalogInputOfFailure(const std::string& archive, const std::string& output, const Recording& r,
                                   const std::string& reason);

// Makes the entry (the scan files calibrated) and adds it in one transaction.
bool AddCatalogEntry(Catalog& catalog, const CatalogInput& input, std::string& error);

// vm-batch --rebuild-catalog FILE ARCHIVE OUTPUT: the catalog made anew
// from the manifests and the outputs, nothing converted. Every recording
// with a finished conversion in a manifest, and every one that cannot be
// converted, gets its entry. Returns vm-batch's exit code.
int RebuildCatalog(const std::string& catalogPath, const std::string& archive, const std::string& output,
                   std::ostream& out, std::ostream& err);
