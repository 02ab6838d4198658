// The active regions of a catalog: the features read from its sources, the
// regions written to its tables regions and region_tracks.
#pragma once

#include <string>
#include <vector>

#include "archive/region_linking.h"
#include "catalog/catalog.h"
#include "scan/plot_picture.h"

// One source of a feature: the track's source at one frequency.
struct FeatureSource {
    double frequency = 0.0;  // GHz
    double offset = 0.0, offsetError = 0.0;
    double flux = 0.0, fluxError = 0.0;
    double vOverI = 0.0, vOverIError = 0.0;
};

struct CatalogFeatures {
    std::vector<RegionFeature> features;
    std::vector<std::vector<FeatureSource>> sources;  // per feature, ascending in frequency
};

// A feature from its sources: the offset is their mean weighted by
// 1 / error^2 (the plain mean when an error is not above 0), its error
// 1 / sqrt(sum of the weights) (the spread of the offsets / sqrt(n) for the
// plain mean).
void PlaceFeature(const std::vector<FeatureSource>& sources, RegionFeature& feature);

// Every track (track >= 0) of every recording as a feature, with its sources.
bool ReadFeatures(Catalog& catalog, CatalogFeatures& features, std::string& error);

// Replaces the catalog's regions and region_tracks by `regions`, in one
// transaction (numbered from 1 in their order).
bool WriteRegions(Catalog& catalog, const CatalogFeatures& features, const std::vector<LinkedRegion>& regions,
                  std::string& error);

// region,observed,date,track,offset_arcsec,frequency_ghz,flux_sfu,flux_error_sfu,v_over_i,v_over_i_error
std::string RegionsCsv(const CatalogFeatures& features, const std::vector<LinkedRegion>& regions);

// Region `index`'s spectrum day by day (one curve per day): flux against
// frequency (log-log) and V/I against frequency.
bool RegionPicture(const CatalogFeatures& features, const std::vector<LinkedRegion>& regions, std::size_t index,
                   PlotPicture& picture, std::string& error);
