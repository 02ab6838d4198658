#include "simobs/truth.h"

#include <nlohmann/json.hpp>

#include "simobs/whole_sun.h"

namespace {

using Json = nlohmann::ordered_json;

}  // namespace

double ScanFileOffset(double recordingPosition) { return -recordingPosition; }

std::string TruthJson(const SimulatorOptions& o, const SimulatedRecording& r) {
    Json truth;
    truth["about"] =
        "What vm-simobs put into this recording. Temperatures are antenna temperatures [K]; gains are "
        "recorder units per kelvin (a sample is gain x (T + offset + slope x (i / (n - 1) - 0.5)) + noise, "
        "with level jumps at the markers). RR is the al file, LL the ar file. Offsets are arc seconds from "
        "the disk centre as the scan files give them (the recording's order reversed). v_over_i is "
        "(RR - LL) / (RR + LL).";
    // Said only when asked for, which keeps the bytes of the usual recording.
    if (o.limb > 0)
        truth["about"] = truth["about"].get<std::string>() +
                         " The disk has a rim from (1 - limb_rim_width) to 1 of its radio radius, brighter by "
                         "limb_rim of the quiet Sun; quiet_sun_level is the uniform disk's alone and limb_rim_level "
                         "what the rim adds to it at the disk centre, in recorder units.";
    if (o.skyCurve > 0)
        truth["about"] = truth["about"].get<std::string>() +
                         " T also holds the curved sky sky_curve x quiet_sun_k x 4 (i / (n - 1) - 0.5)^2.";
    // A day of a run of days says so, and gives what the run adds.
    const bool runDay = r.runDay >= 0;
    truth["about"] = truth["about"].get<std::string>() +
                     " whole_sun_flux_sfu is FLUX_L x (the integral over the scan of the noiseless Stokes I "
                     "antenna temperature without the sky, K arcsec) / (beam_sigma_arcsec x sqrt(2 pi)), with "
                     "FLUX_L the converter's lookup of the channel's frequency in the simulator's calibration "
                     "table (null where the table has no value).";
    if (runDay)
        truth["about"] = truth["about"].get<std::string>() +
                         " This is day run_day (from 0) of a run of days made with run_seed; its sources are the "
                         "active regions visible that day (region: the id of regions-truth.csv).";
    truth["seed"] = o.seed;
    if (runDay) {
        truth["run_seed"] = r.runSeed;
        truth["run_day"] = r.runDay;
    }
    truth["samples"] = r.scan.n;
    truth["step_arcsec"] = r.scan.step;
    truth["centre_sample"] = r.scan.centre;
    truth["optical_radius_arcsec"] = r.day.solarRadius;
    truth["quiet_sun_v_over_i"] = -kQuietSunPolarisation;
    if (o.limb > 0) {
        truth["limb_rim"] = o.limb;
        truth["limb_rim_width"] = kLimbRimWidth;
    }
    if (o.skyCurve > 0) truth["sky_curve"] = o.skyCurve;
    Json sources = Json::array();
    for (std::size_t k = 0; k < r.scan.sources.size(); ++k) {
        const Source& s = r.scan.sources[k];
        Json source;
        if (runDay) source["region"] = r.sourceRegions[k];
        source["offset_arcsec"] = ScanFileOffset(s.position);
        source["sigma_arcsec"] = s.size;
        source["amplitude"] = s.amplitude;
        source["turnover_ghz"] = s.turnover;
        source["v_over_i"] = -s.polarisation;
        sources.push_back(source);
    }
    truth["sources"] = sources;
    Json channels = Json::array();
    for (std::size_t c = 0; c < r.channels.size(); ++c) {
        const Channel& ch = r.channels[c];
        Json channel;
        channel["channel"] = c;
        channel["frequency_ghz"] = ch.frequency;
        channel["enabled"] = ch.enabled;
        channel["quiet_sun_k"] = ch.temperature;
        channel["radio_radius_arcsec"] = ch.radius;
        channel["beam_sigma_arcsec"] = ch.beamSigma;
        double flux = 0;
        channel["whole_sun_flux_sfu"] = WholeSunFlux(r.scan, ch, flux) ? Json(flux) : Json(nullptr);
        Json polarisations = Json::array();
        for (int pol = 0; pol < 2; ++pol) {
            const double sign = pol == 0 ? -1.0 : 1.0;
            Json p;
            p["name"] = pol == 0 ? "RR" : "LL";
            p["file"] = (pol == 0 ? "al" : "ar") + std::to_string(c);
            p["gain_per_k"] = ch.gain[pol];
            p["offset_k"] = ch.offset[pol];
            p["slope_k"] = ch.slope[pol];
            p["noise_k"] = ch.noise[pol];
            // The quiet disk's centre over the sky, in recorder units.
            p["quiet_sun_level"] = ch.gain[pol] * ch.temperature * (1.0 + sign * kQuietSunPolarisation);
            if (o.limb > 0)
                p["limb_rim_level"] = ch.gain[pol] * o.limb * ch.temperature * LimbRimShare(ch, 0.0) *
                                      (1.0 + sign * kQuietSunPolarisation);
            polarisations.push_back(p);
        }
        channel["polarisations"] = polarisations;
        Json seen = Json::array();
        for (std::size_t k = 0; k < r.scan.sources.size(); ++k) {
            Json source;
            if (runDay) source["region"] = r.sourceRegions[k];
            source["offset_arcsec"] = ScanFileOffset(r.scan.sources[k].position);
            source["sigma_arcsec"] = ch.sourceSigma[k];  // through the beam
            source["peak_k"] = ch.sourcePeak[k];        // in I, over the quiet Sun
            source["v_over_i"] = -r.scan.sources[k].polarisation;
            seen.push_back(source);
        }
        channel["sources"] = seen;
        // The level jumps of the channel's calibration index: the sample (in
        // the recording's order) whose marker the repair acts on, and the
        // factor each polarisation's gain takes on from the sample after it.
        Json jumps = Json::array();
        for (const Marker& m : r.markers) {
            if (m.tag / 8 != ch.calibrationIndex) continue;
            jumps.push_back(Json{{"sample", m.position},
                                 {"factor_rr", m.factor[0][c]},
                                 {"factor_ll", m.factor[1][c]}});
        }
        channel["jumps"] = jumps;
        channels.push_back(channel);
    }
    truth["channels"] = channels;
    return truth.dump(1) + "\n";
}
