#include "window/replace_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <cmath>

#include "model/browse_model.h"
#include "tplforge/format.h"
#include "window/texture_canvas.h"

namespace tplforge::browse {

namespace {

constexpr Format kFormats[] = {Format::I4,    Format::I8,    Format::IA4, Format::IA8, Format::RGB565, Format::RGB5A3,
                               Format::RGBA8, Format::C4,    Format::C8,  Format::C14X2, Format::CMPR};
constexpr PaletteFormat kPaletteFormats[] = {PaletteFormat::IA8, PaletteFormat::RGB565, PaletteFormat::RGB5A3};

QString latin(std::string_view s) { return QString::fromLatin1(s.data(), static_cast<qsizetype>(s.size())); }

QString psnrText(std::optional<double> value) {
    if (!value) return ReplaceDialog::tr("PSNR: the picture and the texture differ in size");
    if (std::isinf(*value)) return ReplaceDialog::tr("PSNR: identical to the picture");
    return ReplaceDialog::tr("PSNR against the picture: %1 dB").arg(*value, 0, 'f', 2);
}

}  // namespace

ReplaceDialog::ReplaceDialog(StepBase base, const TextureRef& texture, Image picture, const QString& pictureName,
                             QWidget* parent)
    : QDialog(parent), base_(std::move(base)), texturePath_(texture.path()), textureFormat_(texture.view.format),
      picture_(std::move(picture)), pictureName_(pictureName) {
    setWindowTitle(tr("Replace %1").arg(QString::fromStdString(texturePath_)));
    pool_.setMaxThreadCount(1);
    pictureImage_ = toQImage(picture_);

    auto* views = new QHBoxLayout;
    const auto pane = [&](const QString& title, TextureCanvas*& canvas) {
        auto* box = new QGroupBox(title);
        auto* layout = new QVBoxLayout(box);
        canvas = new TextureCanvas(box);
        canvas->setMinimumSize(280, 280);
        layout->addWidget(canvas);
        views->addWidget(box);
        return layout;
    };
    pane(tr("Now"), now_);
    auto* afterLayout = pane(tr("Replaced"), after_);
    showPicture_ = new QCheckBox(tr("Show the &picture as given"));
    afterLayout->addWidget(showPicture_);
    if (auto decoded = texture.decode(0)) now_->setPicture(toQImage(*decoded));
    after_->setMessage(tr("Encoding…"));

    const QString keep = tr("As it is (%1)");
    format_ = new QComboBox;
    format_->addItem(keep.arg(latin(formatName(static_cast<std::uint32_t>(textureFormat_)))), -1);
    for (Format f : kFormats) format_->addItem(latin(formatName(static_cast<std::uint32_t>(f))), static_cast<int>(f));
    paletteFormat_ = new QComboBox;
    paletteFormat_->addItem(texture.view.palette
                                ? keep.arg(latin(paletteFormatName(static_cast<std::uint32_t>(texture.view.palette->format))))
                                : tr("As it is"),
                            -1);
    for (PaletteFormat f : kPaletteFormats)
        paletteFormat_->addItem(latin(paletteFormatName(static_cast<std::uint32_t>(f))), static_cast<int>(f));
    entries_ = new QSpinBox;
    entries_->setRange(0, 16384);
    entries_->setSpecialValueText(texture.view.palette ? keep.arg(texture.view.palette->entryCount) : tr("As it is"));
    levels_ = new QComboBox;
    levels_->addItem(keep.arg(texture.view.levels.size()), -1);
    levels_->addItem(tr("As many as fit"), 0);
    for (int n = 1; n <= 11; ++n) levels_->addItem(QString::number(n), n);
    quality_ = new QComboBox;
    quality_->addItem(tr("Normal"), static_cast<int>(Quality::Normal));
    quality_->addItem(tr("Fast"), static_cast<int>(Quality::Fast));
    quality_->addItem(tr("Best"), static_cast<int>(Quality::Best));
    dither_ = new QCheckBox(tr("&Dither the palette"));

    auto* form = new QFormLayout;
    form->addRow(tr("&Format:"), format_);
    form->addRow(tr("P&alette format:"), paletteFormat_);
    form->addRow(tr("Palette &entries:"), entries_);
    form->addRow(tr("&Levels:"), levels_);
    form->addRow(tr("&Quality:"), quality_);
    form->addRow(QString(), dither_);

    status_ = new QLabel;
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel);
    take_ = buttons->addButton(tr("&Replace"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &ReplaceDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ReplaceDialog::reject);

    auto* side = new QVBoxLayout;
    side->addWidget(new QLabel(tr("Picture: %1 (%2 × %3)").arg(pictureName_).arg(picture_.width).arg(picture_.height)));
    side->addLayout(form);
    side->addWidget(status_);
    side->addStretch();
    auto* top = new QHBoxLayout;
    top->addLayout(views, 1);
    top->addLayout(side);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top, 1);
    layout->addWidget(buttons);

    const auto changed = [this] {
        updateEnabled();
        schedulePreview();
    };
    connect(format_, &QComboBox::currentIndexChanged, this, changed);
    connect(paletteFormat_, &QComboBox::currentIndexChanged, this, changed);
    connect(entries_, &QSpinBox::valueChanged, this, changed);
    connect(levels_, &QComboBox::currentIndexChanged, this, changed);
    connect(quality_, &QComboBox::currentIndexChanged, this, changed);
    connect(dither_, &QCheckBox::toggled, this, changed);
    connect(showPicture_, &QCheckBox::toggled, this, [this](bool picture) {
        after_->setPictureKeepingZoom(picture ? pictureImage_ : previewImage_);
    });
    // Made default once it is inside the dialog: Return takes the picture
    // wherever the focus is (but on Cancel).
    take_->setDefault(true);
    updateEnabled();
    schedulePreview();
}

ReplaceDialog::~ReplaceDialog() {
    ++generation_;
    pool_.clear();
    pool_.waitForDone();
}

SettingChanges ReplaceDialog::changes() const {
    SettingChanges c;
    if (const int f = format_->currentData().toInt(); f >= 0) c.format = static_cast<Format>(f);
    if (const int f = paletteFormat_->currentData().toInt(); f >= 0 && paletteFormat_->isEnabled())
        c.paletteFormat = static_cast<PaletteFormat>(f);
    if (entries_->value() > 0 && entries_->isEnabled()) c.paletteEntries = static_cast<std::uint32_t>(entries_->value());
    if (const int n = levels_->currentData().toInt(); n == 0)
        c.mipmapsAuto = true;
    else if (n > 0)
        c.mipmaps = static_cast<unsigned>(n - 1);
    if (quality_->currentIndex() > 0) c.quality = static_cast<Quality>(quality_->currentData().toInt());
    if (dither_->isChecked() && dither_->isEnabled()) c.dither = true;
    return c;
}

void ReplaceDialog::updateEnabled() {
    const int f = format_->currentData().toInt();
    const Format target = f >= 0 ? static_cast<Format>(f) : textureFormat_;
    const bool palette = isPaletteFormat(target);
    paletteFormat_->setEnabled(palette);
    entries_->setEnabled(palette);
    dither_->setEnabled(palette);
    quality_->setEnabled(palette || target == Format::CMPR);
}

void ReplaceDialog::schedulePreview() {
    const std::uint64_t generation = ++generation_;
    ready_ = false;
    step_.reset();
    take_->setEnabled(true);
    status_->setText(tr("Encoding…"));
    TextureEdit edit;
    edit.texture = texturePath_;
    edit.picture = picture_;
    edit.changes = changes();
    edit.pictureName = pictureName_.toStdString();
    pool_.clear();
    pool_.start([this, generation, base = base_, edit = std::move(edit)]() mutable {
        auto step = prepareStep(base, std::move(edit));
        std::optional<Step> made;
        QString problem;
        QImage preview;
        std::optional<double> quality;
        if (!step) {
            problem = QString::fromStdString(describe(step.error()));
        } else {
            const auto found = step->after->find(step->texture);
            if (found) {
                if (auto decoded = (*found)->decode(0)) {
                    preview = toQImage(*decoded);
                    quality = psnrAgainstPicture(picture_, *decoded, (*found)->view.format);
                }
            }
            made = std::move(step).value();
        }
        QMetaObject::invokeMethod(
            this,
            [this, generation, made = std::move(made), problem, preview, quality]() mutable {
                showPreview(generation, std::move(made), problem, preview, quality);
            },
            Qt::QueuedConnection);
    });
}

void ReplaceDialog::showPreview(std::uint64_t generation, std::optional<Step> step, QString problem, QImage preview,
                                std::optional<double> psnr) {
    if (generation != generation_) return;
    ready_ = true;
    if (!step) {
        step_.reset();
        psnr_.reset();
        status_->setText(problem);
        after_->setPicture({});
        after_->setMessage(problem);
        take_->setEnabled(false);
        takeWhenReady_ = false;
        emit previewShown();
        return;
    }
    QStringList lines{psnrText(psnr)};
    if (step->changed == 0) lines << tr("The texture already holds this picture: nothing changes.");
    for (const Note& note : step->notes) lines << QString::fromStdString(note.text);
    status_->setText(lines.join(QLatin1Char('\n')));
    step_ = std::move(step);
    psnr_ = psnr;
    previewImage_ = preview;
    if (showPicture_->isChecked())
        after_->setPicture(pictureImage_);
    else
        after_->setPicture(preview);
    take_->setEnabled(true);
    emit previewShown();
    if (takeWhenReady_) accept();
}

void ReplaceDialog::accept() {
    if (!ready_) {
        // Return pressed while the preview is still being encoded: take it once it is.
        takeWhenReady_ = true;
        return;
    }
    if (step_) QDialog::accept();
}

}  // namespace tplforge::browse
