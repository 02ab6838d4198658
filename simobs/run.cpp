#include "simobs/run.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>

#include <nlohmann/json.hpp>

#include "simobs/model.h"
#include "simobs/whole_sun.h"
#include "simobs/writer.h"

namespace {

using Json = nlohmann::ordered_json;

// The optical radius at 1 AU [arcsec], as SunOnDate's radius.
constexpr double kRadiusAtOneAu = 959.6;

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
    char text[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    return text;
}

struct RunDate {
    int year = 0, month = 0, day = 0;
    std::string Text() const { return Format("%04d-%02d-%02d", year, month, day); }
};

bool WriteOrSay(const std::string& path, const std::string& text, std::string& error) {
    if (WriteTextFile(path, text)) return true;
    error = "cannot write " + path;
    return false;
}

}  // namespace

uint64_t DaySeed(uint64_t runSeed, int dayIndex) {
    Random r = Stream(runSeed, kRunDay, static_cast<uint64_t>(dayIndex));
    return NextBits(r);
}

double JulianDate(int year, int month, int day, double hours) {
    if (month <= 2) {
        --year;
        month += 12;
    }
    const int century = year / 100;
    const int gregorian = 2 - century + century / 4;
    return std::floor(365.25 * (year + 4716)) + std::floor(30.6001 * (month + 1)) + day + gregorian - 1524.5 +
           hours / 24.0;
}

double CarringtonRotation(double julianDate) { return 1690.0 + (julianDate - 2444235.34) / 27.2753; }

bool WriteRun(const SimulatorOptions& o, RunResult& result, std::string& error) {
    std::vector<RunDate> dates(o.days);
    std::vector<Day> suns(o.days);
    for (int d = 0; d < o.days; ++d) {
        RunDate date{o.year, o.month, o.day};
        AddDays(date.year, date.month, date.day, d);
        dates[d] = date;
        suns[d] = SunOnDate(date.year, date.month, date.day);
    }
    // Each day's recording time, as a time of the run: the day's layout
    // stream draws it whatever the day's sources are, so the regions can be
    // placed where they stand at that time.
    std::vector<SimulatorOptions> options(o.days, o);
    std::vector<double> times(o.days);
    for (int d = 0; d < o.days; ++d) {
        options[d].year = dates[d].year;
        options[d].month = dates[d].month;
        options[d].day = dates[d].day;
        options[d].out = o.out + "/" + dates[d].Text();
        options[d].seed = DaySeed(o.seed, d);
        RunDayPlan bare;
        bare.dayIndex = d;
        bare.runSeed = o.seed;
        times[d] = d + ObservationHours(SimulateRecording(options[d], &bare).header) / 24.0;
    }
    result = RunResult();
    result.regions = LayOutRegions(o.seed, o.regions, suns, times);

    std::string wholeSun = "date,channel,frequency_ghz,flux_sfu\n";
    std::string regionRows = "date,region,latitude,meridian_distance,offset_arcsec,visible,amplitude\n";
    std::string referenceText = "fluxdate fluxtime fluxjulian fluxcarrington fluxobsflux fluxadjflux fluxursi\n";
    std::string referenceCsv = "date,frequency_ghz,flux_sfu\n";
    Json daily = Json::array();
    for (int d = 0; d < o.days; ++d) {
        const RunDate& date = dates[d];
        const SimulatorOptions& day = options[d];
        RunDayPlan plan;
        plan.dayIndex = d;
        plan.runSeed = o.seed;
        RegionSources(result.regions, d, times[d], suns[d], plan.sources, plan.regions);
        const SimulatedRecording recording = SimulateRecording(day, &plan);
        RunDayResult written;
        written.date = date.Text();
        if (!WriteRecording(day, recording, written.base, error)) return false;
        written.markers = recording.markers.size();
        written.visibleRegions = static_cast<int>(plan.regions.size());

        for (std::size_t c = 0; c < recording.channels.size(); ++c) {
            const Channel& ch = recording.channels[c];
            double flux = 0;
            if (ch.enabled && WholeSunFlux(recording.scan, ch, flux))
                wholeSun += Format("%s,%zu,%.3f,%.4f\n", written.date.c_str(), c, ch.frequency, flux);
        }
        for (const Region& region : result.regions) {
            const RegionOnDay on = RegionOn(region, d, times[d], suns[d]);
            regionRows += Format("%s,%d,%.4f,%.4f,%.2f,%d,%.5f\n", written.date.c_str(), region.id,
                                 region.latitude, on.meridianDistance, on.offset, on.visible ? 1 : 0,
                                 on.amplitude);
        }

        // The reference: the same definition for a channel at 2.8 GHz of the day's model.
        Channel reference;
        reference.frequency = kReferenceFrequency;
        ModelBrightness(recording.day, recording.scan, reference);
        if (!WholeSunFlux(recording.scan, reference, written.trueFlux)) {
            error = "the calibration table has no value at the reference frequency";
            return false;
        }
        written.referenceFlux = written.trueFlux * (1.0 + o.referenceScale);
        const TimeOfDay& t = recording.header.pointing.observationTime;
        const int seconds = static_cast<int>(t.second);
        const double julian = JulianDate(date.year, date.month, date.day, ObservationHours(recording.header));
        // The flux falls with the square of the distance; at 1 AU it is the adjusted flux.
        const double distance = kRadiusAtOneAu / recording.day.solarRadius;
        const double adjusted = written.referenceFlux * distance * distance;
        referenceText += Format("%04d%02d%02d %02d%02d%02d %.5f %.4f %.3f %.3f %.3f\n", date.year, date.month,
                                date.day, t.hour, t.minute, seconds, julian, CarringtonRotation(julian),
                                written.referenceFlux, adjusted, 0.9 * adjusted);
        referenceCsv += Format("%s,%.1f,%.4f\n", written.date.c_str(), kReferenceFrequency, written.referenceFlux);
        daily.push_back(Json{{"date", written.date},
                             {"day_seed", day.seed},
                             {"distance_au", distance},
                             {"whole_sun_flux_sfu", written.trueFlux},
                             {"reference_flux_sfu", written.referenceFlux},
                             {"visible_regions", plan.regions}});
        result.days.push_back(written);
    }

    Json truth;
    truth["about"] =
        "A run of days written by vm-simobs --days. Each day's recording lies in its date's folder with its own "
        "truth file. Regions: heliographic latitude and meridian distance on day 0 [degrees, west positive], "
        "carried by the synodic rotation rate of their latitude; a region is a source of a day's scan while it "
        "lives (birth_day to birth_day + lifetime_days - 1) and |meridian distance| <= visible_meridian_distance; "
        "regions visible on the same day lie at least region_separation_arcsec apart along the scan. The "
        "reference flux file gives the whole-Sun flux at reference_frequency_ghz (daily: whole_sun_flux_sfu, the "
        "definition of the days' truth files for a channel at that frequency) times (1 + reference_scale), "
        "reference_flux_sfu; its adjusted flux is that times distance_au squared.";
    truth["seed"] = o.seed;
    truth["first_date"] = dates.front().Text();
    truth["days"] = o.days;
    truth["regions_asked"] = o.regions;
    truth["visible_meridian_distance"] = kVisibleMeridianDistance;
    truth["region_separation_arcsec"] = kRegionSeparation;
    truth["reference_frequency_ghz"] = kReferenceFrequency;
    truth["reference_scale"] = o.referenceScale;
    Json regions = Json::array();
    for (const Region& r : result.regions)
        regions.push_back(Json{{"region", r.id},
                               {"latitude", r.latitude},
                               {"meridian_distance_day0", r.meridianDistance},
                               {"birth_day", r.birth},
                               {"lifetime_days", r.lifetime},
                               {"peak_amplitude", r.peak},
                               {"sigma_arcsec", r.size},
                               {"turnover_ghz", r.turnover},
                               {"v_over_i", -r.polarisation}});
    truth["regions"] = regions;
    truth["daily"] = daily;

    const std::string& out = o.out;
    return WriteOrSay(out + "/run-truth.json", truth.dump(1) + "\n", error) &&
           WriteOrSay(out + "/whole-sun-truth.csv", wholeSun, error) &&
           WriteOrSay(out + "/regions-truth.csv", regionRows, error) &&
           WriteOrSay(out + "/reference-flux.txt", referenceText, error) &&
           WriteOrSay(out + "/reference-flux.csv", referenceCsv, error);
}
