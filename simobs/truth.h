// What a simulated recording holds, written beside it as "<name>.<NN>-truth.json"
// for an analysis to be tested against: the gains and offsets of every
// channel and polarisation, the quiet Sun, and each compact source as a scan
// file of the channel shows it.
#pragma once

#include <string>

#include "simobs/model.h"

// The offset [arcsec] from the disk centre, as the scan files give it
// (CDELT1 x (place - PMCSUN)), of a position in the recording's order: the
// scan file lists the recording's samples last first, so its offsets run
// against the recording's. The truth file and what vm-simobs prints use it.
double ScanFileOffset(double recordingPosition);

// The JSON text (ordered keys, one value per line, ending in a newline).
std::string TruthJson(const SimulatorOptions& options, const SimulatedRecording& recording);
