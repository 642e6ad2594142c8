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

}  // namespace tplforge
