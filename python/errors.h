// The library's error values as Python exceptions: one class per error enum,
// each carrying the value's name and its describe() text; OS errors as the
// OSError subclass their errno picks.
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <system_error>

#include <pybind11/pybind11.h>

#include "tplforge/png.h"
#include "tplforge/targa.h"
#include "tplforge/texture.h"
#include "tplforge/texture_file.h"
#include "tplforge/tpl.h"

namespace tplforge::python {

namespace py = pybind11;

// Each enum's values by name, in declaration order.
template <class E>
struct ErrorNames;

template <>
struct ErrorNames<TplError> {
    static constexpr std::string_view kClass = "TplError";
    static constexpr std::array<std::string_view, 14> kNames = {
        "TooShort",         "BadSignature", "NoTextures",      "CountOutOfRange",   "TableOutOfBounds",
        "OffsetOutOfRange", "HeaderOutOfBounds", "BadSize",    "DataOutOfBounds",   "UnsupportedFormat",
        "MissingPalette",   "PaletteOutOfBounds", "BadPalette", "LevelsOutOfBounds"};
};

template <>
struct ErrorNames<TplWriteError> {
    static constexpr std::string_view kClass = "TplWriteError";
    static constexpr std::array<std::string_view, 11> kNames = {
        "NoTextures",    "EmptyPicture", "SideTooLarge", "FileTooLarge", "TooManyLevels",  "TooManyTextures",
        "UnknownFormat", "BadDataStart", "NoSuchLevel",  "NotPaletted",  "BadPaletteSize"};
};

template <>
struct ErrorNames<CodecError> {
    static constexpr std::string_view kClass = "CodecError";
    static constexpr std::array<std::string_view, 9> kNames = {
        "UnknownFormat",    "WrongDataSize",   "WrongPictureSize", "NeedsPalette", "NotPaletteFormat",
        "IndexOutOfRange", "NoSuchLevel",      "TooManyLevels",    "SideTooLarge"};
};

template <>
struct ErrorNames<PngError> {
    static constexpr std::string_view kClass = "PngError";
    static constexpr std::array<std::string_view, 4> kNames = {"NotPng", "TooLarge", "Corrupt", "Empty"};
};

template <>
struct ErrorNames<TargaError> {
    static constexpr std::string_view kClass = "TargaError";
    static constexpr std::array<std::string_view, 7> kNames = {
        "TooShort", "UnsupportedType", "UnsupportedDepth", "BadColourMap", "EmptyImage", "Truncated", "TooLarge"};
};

template <>
struct ErrorNames<ErrorCode> {
    static constexpr std::string_view kClass = "TextureFileError";
    static constexpr std::array<std::string_view, 11> kNames = {
        "CannotRead",   "CannotWrite",      "Damaged",    "NoTextures", "NoSuchMember",  "NoSuchTexture",
        "NamedTwice",   "AmbiguousTexture", "BadPicture", "Refused",    "TooManyColours"};
};

// A value added at the end of an enum must be named here too.
static_assert(ErrorNames<TplError>::kNames.size() == std::size_t(TplError::LevelsOutOfBounds) + 1);
static_assert(ErrorNames<TplWriteError>::kNames.size() == std::size_t(TplWriteError::BadPaletteSize) + 1);
static_assert(ErrorNames<CodecError>::kNames.size() == std::size_t(CodecError::SideTooLarge) + 1);
static_assert(ErrorNames<PngError>::kNames.size() == std::size_t(PngError::Empty) + 1);
static_assert(ErrorNames<TargaError>::kNames.size() == std::size_t(TargaError::TooLarge) + 1);
static_assert(ErrorNames<ErrorCode>::kNames.size() == std::size_t(ErrorCode::TooManyColours) + 1);

// Makes tplforge.Error and its subclasses in the module.
void addErrorClasses(py::module_& module);

// Sets the Python error and throws, for pybind11 to hand it on.
[[noreturn]] void raiseLibraryError(std::string_view className, std::string_view code, std::string_view text);
[[noreturn]] void raiseOsError(const std::error_code& error, const py::object& filename);

template <class E>
[[noreturn]] void raiseNamed(E code, std::string_view text) {
    const auto index = static_cast<std::size_t>(code);
    const auto& names = ErrorNames<E>::kNames;
    const std::string number = std::to_string(index);  // a value newer than this table
    raiseLibraryError(ErrorNames<E>::kClass, index < names.size() ? names[index] : std::string_view(number), text);
}

template <class E>
[[noreturn]] void raise(E error) {
    raiseNamed(error, describe(error));
}

// TextureFile's one error: its code, and the line describe() gives.
[[noreturn]] inline void raise(const Error& error) { raiseNamed(error.code, describe(error)); }

}  // namespace tplforge::python
