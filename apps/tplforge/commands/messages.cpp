#include "commands/messages.h"

namespace tplforge {

std::string_view describeSpanish(TargaError error) {
    switch (error) {
        case TargaError::TooShort: return "El archivo es demasiado corto para ser un TGA.";
        case TargaError::UnsupportedType: return "Tipo de imagen TGA no soportado.";
        case TargaError::UnsupportedDepth: return "Profundidad de color TGA no soportada.";
        case TargaError::BadColourMap:
            return "La paleta del archivo TGA falta, no es válida o no contiene un color que usa la imagen.";
        case TargaError::EmptyImage: return "La imagen TGA tiene ancho o alto 0.";
        case TargaError::Truncated: return "El archivo TGA está incompleto.";
        case TargaError::TooLarge: return "La imagen TGA es demasiado grande.";
    }
    return "Error desconocido en el archivo TGA.";
}

}  // namespace tplforge
