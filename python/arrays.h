// Pictures between NumPy arrays and the library's Image.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include "tplforge/image.h"

namespace tplforge::python {

namespace py = pybind11;

// A copy of a uint8 array of shape (h, w, 4) RGBA, (h, w, 3) RGB or (h, w)
// grey, of any strides; RGB and grey come out opaque. TypeError for another
// dtype, ValueError for another shape.
[[nodiscard]] Image pictureFromArray(const py::handle& array);

// The picture's pixels as a (h, w, 4) uint8 array that takes over its buffer.
[[nodiscard]] py::array arrayFromPicture(Image&& picture);

}  // namespace tplforge::python
