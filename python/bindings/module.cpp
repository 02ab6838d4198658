// _vmfits: the converter's and the tools' libraries for Python. The package
// vmfits (python/vmfits) wraps these calls, giving their arrays units.
#include "app/version.h"
#include "python/bindings/python_values.h"

PYBIND11_MODULE(_vmfits, m) {
    m.doc() = "vm-fits's libraries: recordings, conversion, scan files and physical units";
    m.attr("__version__") = VersionNumber();
    AddRecordingBindings(m);
    AddScanBindings(m);
    AddCalibrationBindings(m);
}
