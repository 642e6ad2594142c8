#include "platform/platform.h"

namespace tplforge {

std::string_view describeSpanish(PictureError error) {
    switch (error) {
        case PictureError::CannotOpen: return "No se puede abrir el archivo.";
        case PictureError::NotAPicture: return "El archivo no es una imagen que se pueda leer.";
        case PictureError::Corrupt: return "La imagen está dañada o incompleta.";
        case PictureError::TooLarge: return "La imagen es demasiado grande.";
    }
    return "No se puede leer la imagen.";
}

std::string_view describe(PictureError error) {
    switch (error) {
        case PictureError::CannotOpen: return "cannot open the file";
        case PictureError::NotAPicture: return "not a picture format that can be read";
        case PictureError::Corrupt: return "the picture is damaged or cut short";
        case PictureError::TooLarge: return "the picture is too large";
    }
    return "cannot read the picture";
}

}  // namespace tplforge
