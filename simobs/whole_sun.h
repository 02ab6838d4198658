// The true whole-Sun flux density of a simulated channel, as the truth of a
// run of days gives it: FLUX_L x (the integral over the scan of the model's
// noiseless Stokes I antenna temperature without the sky [K arcsec]) / (the
// integral of the beam's profile along the scan, beamSigma x sqrt(2 pi)
// [arcsec]), with FLUX_L the converter's lookup at the channel's frequency in
// CalibrationTableText().
#pragma once

#include "simobs/model.h"

// FLUX_L at `ghz` as the converter looks it up (NarrowFrequency, then the
// table's interpolation) from CalibrationTableText(); false when the table has no
// value there (below its last row).
bool TableFluxFactor(double ghz, double& fluxFactor);

// The integral of SkyFreeIntensity over the scan's span [K arcsec].
double ScanIntegral(const Scan& scan, const Channel& ch);

// The whole-Sun flux [sfu]; false when TableFluxFactor has no value.
bool WholeSunFlux(const Scan& scan, const Channel& ch, double& flux);
