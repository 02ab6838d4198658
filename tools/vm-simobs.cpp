// vm-simobs: writes a synthetic drift scan of the Sun in the acquisition
// system's format (see simobs/): the observation header, the al<N>/ar<N>
// sample files, the marker file and, on request, a matching calibration table.
// The output depends on the options only.
#include <cstdio>
#include <string>

#include "app/version.h"
#include "simobs/model.h"
#include "simobs/options.h"
#include "simobs/run.h"
#include "simobs/truth.h"
#include "simobs/writer.h"

namespace {

int Fail(const std::string& message) {
    std::fprintf(stderr, "vm-simobs: %s\n(see vm-simobs --help)\n", message.c_str());
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    SimulatorOptions o;
    std::string error;
    switch (ParseSimulatorOptions(argc, argv, o, error)) {
        case OptionsOutcome::Help:
            std::fputs(kSimulatorUsage, stdout);
            return 0;
        case OptionsOutcome::Version:
            std::printf("%s\n", VersionLine("vm-simobs").c_str());
            return 0;
        case OptionsOutcome::Error:
            return Fail(error);
        case OptionsOutcome::Run:
            break;
    }
    if (o.days > 0) {
        RunResult run;
        if (!WriteRun(o, run, error)) return Fail(error);
        std::printf("%s: a run of %d days from %s, %zu of %d regions placed, the reference flux at %.1f GHz "
                    "scaled by %.6g (scale error %+g)\n",
                    o.out.c_str(), o.days, run.days.front().date.c_str(), run.regions.size(), o.regions,
                    kReferenceFrequency, 1.0 + o.referenceScale, o.referenceScale);
        for (const RunDayResult& day : run.days)
            std::printf("  %sh: %zu markers, %d regions visible, %.1f GHz flux %.2f sfu (reference %.2f)\n",
                        day.base.c_str(), day.markers, day.visibleRegions, kReferenceFrequency, day.trueFlux,
                        day.referenceFlux);
        return 0;
    }
    const SimulatedRecording recording = SimulateRecording(o);
    std::string base;
    if (!WriteRecording(o, recording, base, error)) return Fail(error);

    std::printf("%sh: %d channels of %d samples, %zu markers\n", base.c_str(), o.channels, o.samples,
                recording.markers.size());
    // Offsets as the scan files and the truth file give them.
    for (const Source& src : recording.scan.sources)
        std::printf("  source at %+.0f arcsec from the disk centre, turnover %.1f GHz\n",
                    ScanFileOffset(src.position), src.turnover);
    for (int c = 0; c < o.channels; ++c) {
        const Channel& ch = recording.channels[c];
        std::printf("  channel %2d  %7.3f GHz  index %2d%s%s%s%s\n", c, ch.frequency, ch.calibrationIndex,
                    ch.enabled ? "" : "  disabled", ch.missingAr ? "  no ar file" : "",
                    ch.shortAr ? "  short ar file" : "",
                    ch.frequency == kBelowTableFrequency ? "  below the calibration table" : "");
    }
    return 0;
}
