#include "catalog/catalog_schema.h"

const char* CatalogSchemaSql() {
    return R"sql(
CREATE TABLE catalog_info (
    key TEXT PRIMARY KEY,
    value TEXT NOT NULL
);
CREATE TABLE recordings (
    id INTEGER PRIMARY KEY,
    header TEXT NOT NULL UNIQUE,
    output TEXT NOT NULL,
    observed TEXT NOT NULL,
    day TEXT NOT NULL,
    object TEXT NOT NULL,
    angle_p REAL NOT NULL,
    solar_radius REAL NOT NULL,
    status TEXT NOT NULL,
    reason TEXT NOT NULL,
    added TEXT NOT NULL,
    flux_low REAL,
    flux_high REAL
);
CREATE INDEX recordings_day ON recordings(day, observed, header, flux_low, flux_high);
CREATE TABLE warnings (
    recording_id INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE,
    position INTEGER NOT NULL,
    warning TEXT NOT NULL,
    channel INTEGER NOT NULL,
    message TEXT NOT NULL,
    PRIMARY KEY (recording_id, position)
);
CREATE TABLE scan_files (
    id INTEGER PRIMARY KEY,
    recording_id INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    channel INTEGER NOT NULL,
    frequency REAL NOT NULL,
    beam_width REAL NOT NULL,
    flux_factor REAL NOT NULL,
    quiet_temperature REAL NOT NULL,
    UNIQUE (recording_id, name)
);
CREATE INDEX scan_files_frequency ON scan_files(frequency, recording_id);
CREATE TABLE calibrations (
    scan_file_id INTEGER PRIMARY KEY REFERENCES scan_files(id) ON DELETE CASCADE,
    calibrated INTEGER NOT NULL,
    refusal TEXT NOT NULL,
    gain_rr REAL, gain_ll REAL,
    quiet_rr REAL, quiet_ll REAL,
    quiet_error_rr REAL, quiet_error_ll REAL
);
CREATE TABLE whole_sun (
    scan_file_id INTEGER PRIMARY KEY REFERENCES scan_files(id) ON DELETE CASCADE,
    flux REAL NOT NULL,
    flux_error REAL NOT NULL,
    recording_id INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE,
    frequency REAL NOT NULL
);
CREATE INDEX whole_sun_frequency ON whole_sun(frequency, recording_id, scan_file_id, flux, flux_error);
CREATE INDEX whole_sun_recording ON whole_sun(recording_id);
CREATE TABLE sources (
    scan_file_id INTEGER NOT NULL REFERENCES scan_files(id) ON DELETE CASCADE,
    position INTEGER NOT NULL,
    track INTEGER NOT NULL,
    offset REAL NOT NULL, offset_error REAL NOT NULL,
    width REAL NOT NULL, width_error REAL NOT NULL,
    peak REAL NOT NULL, peak_error REAL NOT NULL,
    flux REAL NOT NULL, flux_error REAL NOT NULL,
    v_over_i REAL NOT NULL, v_over_i_error REAL NOT NULL,
    significance REAL NOT NULL,
    PRIMARY KEY (scan_file_id, position)
);
CREATE TABLE regions (
    id INTEGER PRIMARY KEY,
    first_day TEXT NOT NULL,
    last_day TEXT NOT NULL,
    days INTEGER NOT NULL,
    latitude_low REAL NOT NULL,
    latitude_high REAL NOT NULL
);
CREATE TABLE region_tracks (
    region_id INTEGER NOT NULL REFERENCES regions(id) ON DELETE CASCADE,
    recording_id INTEGER NOT NULL REFERENCES recordings(id) ON DELETE CASCADE,
    track INTEGER NOT NULL,
    offset REAL NOT NULL,
    PRIMARY KEY (recording_id, track)
);
CREATE INDEX region_tracks_region ON region_tracks(region_id);
)sql";
}
