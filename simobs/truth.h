// What a simulated recording holds, written beside it as "<name>.<NN>-truth.json"
// for an analysis to be tested against: the gains and offsets of every
// channel and polarisation, the quiet Sun, and each compact source as a scan
// file of the channel shows it.
#pragma once

#include <string>

#include "simobs/model.h"

// The JSON text (ordered keys, one value per line, ending in a newline).
std::string TruthJson(const SimulatorOptions& options, const SimulatedRecording& recording);
