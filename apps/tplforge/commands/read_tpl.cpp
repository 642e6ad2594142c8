#include "tplforge/file_io.h"
#include "slots/format_tags.h"
#include "commands/commands.h"
#include "commands/messages.h"
#include "window_rules/window_rules.h"
#include "window_rules/window_rules.h"
#include "tplforge/tpl.h"

namespace tplforge {

namespace {


void showInvalid(Platform& platform) { showError(platform, "Archivo de texturas tpl no valido."); }

bool isDecodedColour(ColourValue c) {
    return window_rules::decodeRgb5a3(window_rules::encodeRgb5a3(c, ~0u)) == c;
}

// The alpha colour for an RGB5A3 texture without alpha texels: one that no texel of
// it decodes to, so saving it again sets bit 15 on every texel as it was. The
// current alpha colour is kept when it qualifies; otherwise flipping its lowest red
// bit gives a colour that is never a decoding result (decoded channel values lie at
// least 8 apart, so no two of them differ only in bit 0).
ColourValue unusedAlphaColour(ColourValue current, const WindowRaster& raster) {
    if (!isDecodedColour(current)) return current;
    for (ColourValue c : raster.pixels)
        if (c == current) return current ^ 1u;
    return current;
}

}  // namespace

// "Leer TPL". Every offset, count and size is checked before the question is
// asked, so an unusable file changes nothing. Each texture tags the slot it goes
// into from its own format code, so reading a file and saving it again writes the
// same file back.
void Commands::readTpl() {
    const std::string name = platform_.showOpenDialog({"", "Texturas TPL|*.tpl", "Abrir textura TPL."});
    if (name.empty()) return;

    auto read = readWholeFile(name);
    if (!read) return showInvalid(platform_);
    const std::vector<std::uint8_t>& file = *read;
    if (!hasTplSignature(file)) return showInvalid(platform_);

    const std::uint32_t count = tplImageCount(file);
    const bool countInRange = count >= 1 && count <= kSlotCount;
    TplHeaders info;
    if (countInRange) {
        auto parsed = parseTpl(file);
        if (!parsed) return showInvalid(platform_);
        info = std::move(parsed).value();
    }

    const MessageAnswer answer = platform_.showMessage(
        {std::string("Para trabajar con TPL, es necesario borrar el buffer de imagenes.") + kCrLf +
             "¿Desea continuar?",
         "Información", MessageIcon::None, MessageButtons::YesNo, MessageAnswer::Yes});
    if (answer != MessageAnswer::Yes) return;

    model_.setSelectionMark(1);
    for (int s = 1; s <= kSlotCount; ++s) model_.setSlotPicture(s, nullptr);
    model_.clearPreview();
    model_.surface().assign(nullptr);

    if (count == 0) return showError(platform_, "No hay texturas por leer.");
    if (!countInRange) return showError(platform_, "Lo siento pero solo soporto 5 texturas como maximo.");

    WorkSurface& surface = model_.surface();
    for (int k = 1; k <= static_cast<int>(info.images.size()); ++k) {
        const TplImageHeader& image = info.images[static_cast<std::size_t>(k - 1)];
        surface.assign(nullptr);
        auto decoded = window_rules::decodeTexture(file, image);
        if (decoded) {
            if (image.format == static_cast<std::uint32_t>(Format::RGB565)) {
                model_.setTag(k, rgb565Tag(model_.slot(k).tag));
            } else if (decoded->alphaTexels > 0) {
                model_.setAlphaColour(decoded->lastAlphaColour);
                model_.setTag(k, rgb5a3Tag(decoded->lastAlphaColour));
            } else {
                model_.setTag(k, rgb5a3Tag(unusedAlphaColour(model_.alphaColour(), decoded->raster)));
            }
            surface.draw(std::move(decoded->raster));
        } else {
            surface.setSize(image.width, image.height);
            platform_.showMessage({"La textura numero: " + std::to_string(k) + " tiene una paleta no soportada." +
                                       kCrLf + "Se seguira cargando la demás texturas.",
                                   "Atención", MessageIcon::Exclamation, MessageButtons::Ok, MessageAnswer::Ok});
        }
        model_.setSlotPicture(k, surface.snapshot());
    }
    model_.selectSlot(1);
}

}  // namespace tplforge
