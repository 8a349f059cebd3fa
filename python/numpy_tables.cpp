#include "numpy_tables.h"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <algorithm>

namespace py = pybind11;

namespace kelto_python {

py::object StructuredArray(const std::vector<Column>& columns)
{
    const py::module_ numpy = py::module_::import("numpy");
    py::list fields;
    std::size_t rows = 0;
    for (const Column& c : columns) {
        std::string type;
        if (const auto* numbers = std::get_if<std::vector<double>>(&c.values)) {
            type = "f8", rows = numbers->size();
        } else if (const auto* whole = std::get_if<std::vector<int>>(&c.values)) {
            type = "i4", rows = whole->size();
        } else {
            const auto& words = std::get<std::vector<std::string>>(c.values);
            std::size_t widest = 1;
            for (const std::string& w : words) widest = std::max(widest, w.size());
            type = "U" + std::to_string(widest), rows = words.size();
        }
        fields.append(py::make_tuple(c.name, type));
    }
    py::object table = numpy.attr("empty")(rows, numpy.attr("dtype")(fields));
    for (const Column& c : columns) {
        if (const auto* numbers = std::get_if<std::vector<double>>(&c.values)) {
            table[py::str(c.name)] = py::array_t<double>(static_cast<py::ssize_t>(numbers->size()), numbers->data());
        } else if (const auto* whole = std::get_if<std::vector<int>>(&c.values)) {
            table[py::str(c.name)] = py::array_t<int>(static_cast<py::ssize_t>(whole->size()), whole->data());
        } else {
            table[py::str(c.name)] = py::cast(std::get<std::vector<std::string>>(c.values));
        }
    }
    return table;
}

}  // namespace kelto_python
