// What the bindings hand to Python: texts, errors, arrays and the tools' JSON.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <string>
#include <vector>

#include "json/json.h"

namespace py = pybind11;

// A text from a file or a message as a Python str: UTF-8, with each byte that
// is not part of a valid sequence kept as a lone surrogate (as os.fsdecode
// gives file names), so that no text fails to arrive.
py::str Text(const std::string& bytes);

// Raises the Python exception `type` with `message`.
[[noreturn]] void Raise(PyObject* type, const std::string& message);
// Raises FileNotFoundError when nothing is at `path`, else `otherwise`.
[[noreturn]] void RaiseAbout(const std::string& path, const std::string& message, PyObject* otherwise);

// One-dimensional numpy arrays holding copies of the values.
py::array_t<double> DoubleArray(const std::vector<double>& values);
py::array_t<float> FloatArray(const std::vector<float>& values);

// A JSON value as Python objects: dicts (in the value's order), lists, str,
// int, float, bool and None.
py::object PythonOf(const Json& value);

// The bindings of each part, added to the module `m`.
void AddRecordingBindings(py::module_& m);
void AddScanBindings(py::module_& m);
void AddCalibrationBindings(py::module_& m);

// The recording planned by read_recording behind a handle (None: none).
struct ScanRecording;
const ScanRecording* RecordingOf(const py::object& handle);

struct ScanFileContents;
// The scan file read by read_scan behind a handle, and its path.
const ScanFileContents& ScanOf(const py::object& handle);
std::string ScanPathOf(const py::object& handle);
