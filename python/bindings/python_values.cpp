#include "python/bindings/python_values.h"

#include <algorithm>
#include <filesystem>

py::str Text(const std::string& bytes) {
    PyObject* text = PyUnicode_DecodeUTF8(bytes.data(), static_cast<Py_ssize_t>(bytes.size()), "surrogateescape");
    if (!text) throw py::error_already_set();
    return py::reinterpret_steal<py::str>(text);
}

void Raise(PyObject* type, const std::string& message) {
    PyErr_SetObject(type, Text(message).ptr());
    throw py::error_already_set();
}

void RaiseAbout(const std::string& path, const std::string& message, PyObject* otherwise) {
    std::error_code ignored;
    Raise(std::filesystem::exists(path, ignored) ? otherwise : PyExc_FileNotFoundError, message);
}

template <typename T>
static py::array_t<T> ArrayOf(const std::vector<T>& values) {
    py::array_t<T> array(static_cast<py::ssize_t>(values.size()));
    std::copy(values.begin(), values.end(), array.mutable_data());
    return array;
}

py::array_t<double> DoubleArray(const std::vector<double>& values) { return ArrayOf(values); }
py::array_t<float> FloatArray(const std::vector<float>& values) { return ArrayOf(values); }

py::object PythonOf(const Json& value) {
    switch (value.type()) {
    case Json::value_t::object: {
        py::dict dict;
        for (const auto& [key, item] : value.items()) dict[Text(key)] = PythonOf(item);
        return std::move(dict);
    }
    case Json::value_t::array: {
        py::list list;
        for (const Json& item : value) list.append(PythonOf(item));
        return std::move(list);
    }
    case Json::value_t::string:
        return Text(value.get<std::string>());
    case Json::value_t::boolean:
        return py::bool_(value.get<bool>());
    case Json::value_t::number_integer:
        return py::int_(value.get<long long>());
    case Json::value_t::number_unsigned:
        return py::int_(value.get<unsigned long long>());
    case Json::value_t::number_float:
        return py::float_(value.get<double>());
    default:
        return py::none();
    }
}
