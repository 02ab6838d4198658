// Writing a simulated recording in the acquisition system's format: the
// observation header "<name>.<NN>h", the sample files al<N>/ar<N> (32-bit
// floats, little-endian), the marker file "<name>.<NN>p" (16-bit position/tag
// pairs), what it holds "<name>.<NN>-truth.json" (simobs/truth.h) and, on
// request, a matching "vm-fits.cfg".
#pragma once

#include <string>

#include "simobs/model.h"

// Writes the recording into options.out (created when missing); sample files
// there of channels that are not written are removed. The base path of the
// header and marker file ("<out>/<name>.<NN>") goes to `base`. False with
// `error` ("cannot write PATH", "cannot create the folder PATH") on failure.
bool WriteRecording(const SimulatorOptions& options, const SimulatedRecording& recording,
                    std::string& base, std::string& error);

// Writes `text` to `path`; false when it cannot.
bool WriteTextFile(const std::string& path, const std::string& text);
