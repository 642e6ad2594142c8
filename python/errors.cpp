#include "errors.h"

#include <pybind11/eval.h>

namespace tplforge::python {

namespace {

// Defined in Python so that they behave as exceptions written in Python do:
// pickling, str() giving the message, attributes settable.
constexpr const char* kClasses = R"(
class Error(Exception):
    """Base of every error tplforge raises for a file or picture it refuses.

    ``code`` names the library's error value (``"TooShort"``), ``message`` is
    its English description, which is also what ``str()`` gives.
    """

    __module__ = "tplforge"

    def __init__(self, code, message):
        super().__init__(code, message)
        self.code = code
        self.message = message

    def __str__(self):
        return self.message


class TplError(Error):
    """A TPL file that cannot be read: its headers, offsets or sizes are wrong."""

    __module__ = "tplforge"


class TplWriteError(Error):
    """Textures that cannot be laid out as a TPL file (empty, too large, too many)."""

    __module__ = "tplforge"


class CodecError(Error):
    """Texel data or a picture of the wrong size for its format."""

    __module__ = "tplforge"


class PngError(Error):
    """A PNG file that cannot be read."""

    __module__ = "tplforge"


class TargaError(Error):
    """A Targa file that cannot be read."""

    __module__ = "tplforge"


class TextureFileError(Error):
    """A file, archive member or texture that read_textures or replace_texture cannot read or edit.

    The message names the file, the member and the texture it is about.
    """

    __module__ = "tplforge"
)";

// Borrowed from the module, which keeps them for as long as it lives.
py::handle moduleHandle;

}  // namespace

void addErrorClasses(py::module_& module) {
    py::exec(kClasses, module.attr("__dict__"));
    moduleHandle = module;
}

void raiseLibraryError(std::string_view className, std::string_view code, std::string_view text) {
    const py::object type = moduleHandle.attr(py::str(className.data(), className.size()));
    const py::tuple args = py::make_tuple(py::str(code.data(), code.size()), py::str(text.data(), text.size()));
    PyErr_SetObject(type.ptr(), args.ptr());
    throw py::error_already_set();
}

void raiseOsError(const std::error_code& error, const py::object& filename) {
    // OSError(errno, text, filename) makes the subclass the errno names
    // (FileNotFoundError, IsADirectoryError, ...).
    const py::object exception =
        py::reinterpret_borrow<py::object>(PyExc_OSError)(error.value(), error.message(), filename);
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exception.ptr())), exception.ptr());
    throw py::error_already_set();
}

}  // namespace tplforge::python
