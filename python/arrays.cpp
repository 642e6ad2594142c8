#include "arrays.h"

#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace tplforge::python {

namespace {

std::string shapeText(const py::array& a) {
    std::string text = "(";
    for (py::ssize_t i = 0; i < a.ndim(); ++i) text += (i > 0 ? ", " : "") + std::to_string(a.shape(i));
    return text + (a.ndim() == 1 ? ",)" : ")");
}

void fillRgba(const py::array& a, Image& picture) {
    const auto pixels = a.unchecked<std::uint8_t, 3>();
    const py::ssize_t channels = a.shape(2);
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const auto row = picture.row(y);
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const std::size_t at = std::size_t{x} * 4;
            row[at] = pixels(y, x, 0);
            row[at + 1] = pixels(y, x, 1);
            row[at + 2] = pixels(y, x, 2);
            row[at + 3] = channels == 4 ? pixels(y, x, 3) : 255;
        }
    }
}

void fillGrey(const py::array& a, Image& picture) {
    const auto pixels = a.unchecked<std::uint8_t, 2>();
    for (std::uint32_t y = 0; y < picture.height; ++y) {
        const auto row = picture.row(y);
        for (std::uint32_t x = 0; x < picture.width; ++x) {
            const std::uint8_t v = pixels(y, x);
            const std::size_t at = std::size_t{x} * 4;
            row[at] = row[at + 1] = row[at + 2] = v;
            row[at + 3] = 255;
        }
    }
}

}  // namespace

Image pictureFromArray(const py::handle& object) {
    if (!py::isinstance<py::array>(object))
        throw py::type_error("a picture is a numpy.ndarray of uint8, not " +
                             std::string(py::str(py::type::of(object).attr("__name__"))));
    const auto a = py::reinterpret_borrow<py::array>(object);
    if (!a.dtype().is(py::dtype::of<std::uint8_t>()))
        throw py::type_error("a picture's dtype must be uint8, not " + std::string(py::str(a.dtype())));
    const bool grey = a.ndim() == 2;
    if (!grey && !(a.ndim() == 3 && (a.shape(2) == 4 || a.shape(2) == 3)))
        throw py::value_error("a picture's shape is (height, width, 4), (height, width, 3) or (height, width), not " +
                              shapeText(a));
    // Sides past this are refused by the encoder anyway; here they must only
    // fit the picture's fields.
    constexpr auto kMost = static_cast<py::ssize_t>(std::numeric_limits<std::uint32_t>::max());
    if (a.shape(0) > kMost || a.shape(1) > kMost) throw py::value_error("a picture's side is too large");
    Image picture(static_cast<std::uint32_t>(a.shape(1)), static_cast<std::uint32_t>(a.shape(0)));
    if (picture.rgba.empty()) return picture;
    if (!grey && a.shape(2) == 4 && (a.flags() & py::array::c_style))
        std::memcpy(picture.rgba.data(), a.data(), picture.rgba.size());
    else if (grey)
        fillGrey(a, picture);
    else
        fillRgba(a, picture);
    return picture;
}

py::array arrayFromPicture(Image&& picture) {
    const auto height = static_cast<py::ssize_t>(picture.height), width = static_cast<py::ssize_t>(picture.width);
    auto* pixels = new std::vector<std::uint8_t>(std::move(picture.rgba));
    const py::capsule owner(pixels, [](void* p) { delete static_cast<std::vector<std::uint8_t>*>(p); });
    return py::array_t<std::uint8_t>({height, width, py::ssize_t{4}}, {width * 4, py::ssize_t{4}, py::ssize_t{1}},
                                     pixels->data(), owner);
}

}  // namespace tplforge::python
