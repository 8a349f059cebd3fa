// NumPy structured arrays built column by column: the module's results, with the column names and
// units of the program's CSV tables, so that pandas.DataFrame(result) reads them as the files.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <variant>
#include <vector>

namespace kelto_python {

struct Column {
    std::string name;
    std::variant<std::vector<double>, std::vector<int>, std::vector<std::string>> values;
};

// A structured array of the columns (float64, int32 or unicode), all of the same length.
pybind11::object StructuredArray(const std::vector<Column>& columns);

}  // namespace kelto_python
