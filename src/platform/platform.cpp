#include "platform/platform.h"

namespace tplforge {

std::string_view describeSpanish(PictureError error) {
    switch (error) {
        case PictureError::CannotOpen: return "No se puede abrir el archivo.";
        case PictureError::NotAPicture: return "El archivo no es una imagen que se pueda leer.";
        case PictureError::Corrupt: return "La imagen está dañada o incompleta.";
        case PictureError::TooLarge: return "La imagen es demasiado grande.";
        case PictureError::ReaderFailed: return "El lector de imágenes falló con este archivo.";
        case PictureError::ReaderTimedOut: return "El lector de imágenes tardó demasiado con este archivo.";
        case PictureError::ReaderMissing: return "No se encuentra el lector de imágenes (tplforge-picture).";
    }
    return "No se puede leer la imagen.";
}

std::string_view describe(PictureError error) {
    switch (error) {
        case PictureError::CannotOpen: return "cannot open the file";
        case PictureError::NotAPicture: return "not a picture format that can be read";
        case PictureError::Corrupt: return "the picture is damaged or cut short";
        case PictureError::TooLarge: return "the picture is too large";
        case PictureError::ReaderFailed: return "the picture reader failed on this file";
        case PictureError::ReaderTimedOut: return "the picture reader took too long on this file";
        case PictureError::ReaderMissing: return "the picture reader (tplforge-picture) cannot be found or started";
    }
    return "cannot read the picture";
}

}  // namespace tplforge
