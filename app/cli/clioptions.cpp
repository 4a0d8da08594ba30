#include "clioptions.h"

#include "cliedits.h"
#include "imagecodecvetoer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <functional>
#include <iterator>
#include <optional>
#include <vector>

namespace {

QString Tr(const char* text)
{
    return QCoreApplication::translate("CliOptions", text);
}

// Which option fields of the record --quality and --lossless reach, per
// target format, with the ranges the format dialogs offer.
struct QualityField
{
    PLMImageCodecID id;
    int ConvertSettings::*quality;
    int minimum;
    int maximum;
    bool ConvertSettings::*lossless;
};

const QualityField kQualityFields[] = {
    {PLMCodecJPEG, &ConvertSettings::JPEGCmpsnQuality, 1, 100, nullptr},
    {PLMCodecWEBP, &ConvertSettings::WEBPCmpsnQuality, 1, 100, &ConvertSettings::WEBPLlCmpsn},
    {PLMCodecJPEGXR, &ConvertSettings::JPEGXRCmpsnQuality, 1, 99, &ConvertSettings::JPEGXRLlCmpsn},
    {PLMCodecJPEG2000, nullptr, 0, 0, &ConvertSettings::J2000LlCmpsn},
    {PLMCodecHEIF, &ConvertSettings::HEIFCmpsnQuality, 1, 100, nullptr},
    {PLMCodecAVIF, &ConvertSettings::AVIFCmpsnQuality, 1, 100, &ConvertSettings::AVIFLlCmpsn},
    {PLMCodecJXL, &ConvertSettings::JXLCmpsnQuality, 1, 100, &ConvertSettings::JXLLlCmpsn},
};
const int kMinJ2000Rate = 2;
const int kMaxJ2000Rate = 100;
// The PDF page sizes in the order of their names, as stored.
const int kPageSizeValues[] = {0, 2, 3};
const int kIconSizes[] = {16, 32, 48, 64, 128, 256};     // bit 0 upwards
const int kMinDPI = 60;
const int kMaxDPI = 2400;

const QualityField* QualityFieldOf(PLMImageCodecID id)
{
    for (const QualityField& field : kQualityFields) {
        if (field.id == id)
            return &field;
    }
    return nullptr;
}

QString Spelled(const QString& name)
{
    return name.toLower().replace(QLatin1Char(' '), QLatin1Char('-'));
}

// The index of value among names as options spell them, or -1.
int NameIndex(const QStringList& names, const QString& value)
{
    for (int i = 0; i < names.size(); ++i) {
        if (Spelled(names.at(i)) == Spelled(value.trimmed()))
            return i;
    }
    return -1;
}

QStringList WritableExtensions()
{
    QStringList extensions;
    const ImageCodecVetoer vetoer;
    for (int id = 0; id < PLMCodecCount; ++id) {
        if (!vetoer.IsEnabled(PLMImageCodecID(id), PLMImageIOWrite))
            continue;
        for (const QString& extension : PLMImageCodec(PLMImageCodecID(id)).GetExtensions())
            extensions << extension.mid(1);
    }
    return extensions;
}

// Words joined by blanks into lines indented by indent, at most width long.
QString Wrapped(const QStringList& words, int indent, int width)
{
    QString text;
    QString line;
    for (const QString& word : words) {
        if (!line.isEmpty() && indent + line.size() + 1 + word.size() > width) {
            text += QString(indent, QLatin1Char(' ')) + line + QLatin1Char('\n');
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return text + QString(indent, QLatin1Char(' ')) + line + QLatin1Char('\n');
}

bool ReadInt(const QString& value, int minimum, int maximum, int& number)
{
    bool ok = false;
    number = value.trimmed().toInt(&ok);
    return ok && number >= minimum && number <= maximum;
}

// What the command line asked for, before it is checked against the target
// format and put into the record.
struct Request
{
    explicit Request(CliOptions& cliOptions) : options(cliOptions) {}

    CliOptions& options;
    QString format = QStringLiteral("png");
    QString target;
    bool sameFolder = false;
    std::optional<int> quality;
    std::optional<int> rate;
    bool lossless = false;
    bool pageOption = false;
    bool iconOption = false;
    bool keepMetadata = false;
    bool edited = false;
    std::vector<CliText> texts;
    std::vector<CliImage> images;
    std::vector<std::pair<bool, size_t>> stack;     // (is text, index), bottom first

    CliText* CurrentText() { return texts.empty() ? nullptr : &texts.back(); }
    CliImage* CurrentImage() { return images.empty() ? nullptr : &images.back(); }
};

using Apply = std::function<QString(Request&, const QString&)>;

struct Option
{
    const char* name;           // long name without dashes
    char shortName;             // 0: none
    bool takesValue;
    Apply apply;
};

// An option of the latest text watermark.
Apply ForText(const std::function<QString(CliText&, const QString&)>& apply)
{
    return [apply](Request& request, const QString& value) {
        CliText* text = request.CurrentText();
        return text ? apply(*text, value) : Tr("give --text first; this option belongs to the text before it");
    };
}

Apply ForImage(const std::function<QString(CliImage&, const QString&)>& apply)
{
    return [apply](Request& request, const QString& value) {
        CliImage* image = request.CurrentImage();
        return image ? apply(*image, value) : Tr("give --image first; this option belongs to the picture before it");
    };
}

const std::vector<Option>& Options()
{
    static const std::vector<Option> options = {
        {"help", 'h', false, [](Request& r, const QString&) { r.options.help = true; return QString(); }},
        {"version", 'v', false, [](Request& r, const QString&) { r.options.version = true; return QString(); }},
        {"output", 'o', true, [](Request& r, const QString& v) { r.target = v; return QString(); }},
        {"same-folder", 0, false, [](Request& r, const QString&) { r.sameFolder = true; return QString(); }},
        {"format", 'f', true, [](Request& r, const QString& v) { r.format = v; return QString(); }},
        {"recursive", 'r', false, [](Request& r, const QString&) { r.options.recursive = true; return QString(); }},
        {"jobs", 'j', true,
         [](Request& r, const QString& v) {
             return ReadInt(v, 1, 1024, r.options.jobs) ? QString() : Tr("give a number of threads from 1 to 1024");
         }},
        {"json", 0, false, [](Request& r, const QString&) { r.options.json = true; return QString(); }},
        {"save-settings", 0, false, [](Request& r, const QString&) { r.options.saveSettings = true; return QString(); }},
        {"quality", 0, true,
         [](Request& r, const QString& v) {
             int quality = 0;
             if (!ReadInt(v, 1, 100, quality))
                 return Tr("give a quality from 1 to 100");
             r.quality = quality;
             return QString();
         }},
        {"lossless", 0, false, [](Request& r, const QString&) { r.lossless = true; return QString(); }},
        {"rate", 0, true,
         [](Request& r, const QString& v) {
             int rate = 0;
             if (!ReadInt(v, kMinJ2000Rate, kMaxJ2000Rate, rate))
                 return Tr("give a compression rate from %1 to %2").arg(kMinJ2000Rate).arg(kMaxJ2000Rate);
             r.rate = rate;
             return QString();
         }},
        {"page-size", 0, true,
         [](Request& r, const QString& v) {
             const int index = NameIndex(PageSizeNames(), v);
             if (index < 0)
                 return Tr("give a4, letter or legal");
             r.options.settings.PageSize = kPageSizeValues[index];
             r.pageOption = true;
             return QString();
         }},
        {"orientation", 0, true,
         [](Request& r, const QString& v) {
             const int index = NameIndex(PageOrientationNames(), v);
             if (index < 0)
                 return Tr("give portrait or landscape");
             r.options.settings.PageOri = index;
             r.pageOption = true;
             return QString();
         }},
        {"align", 0, true,
         [](Request& r, const QString& v) {
             const int index = NameIndex(AlignmentNames(), v);
             if (index < 0)
                 return Tr("give center or top-left");
             r.options.settings.Align = index;
             r.pageOption = true;
             return QString();
         }},
        {"ico-sizes", 0, true,
         [](Request& r, const QString& v) {
             int bits = 0;
             for (const QString& size : v.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                 const int bit = int(std::find(std::begin(kIconSizes), std::end(kIconSizes), size.trimmed().toInt())
                                     - std::begin(kIconSizes));
                 if (bit >= int(std::size(kIconSizes)))
                     return Tr("give sizes out of 16, 32, 48, 64, 128, 256, separated by commas");
                 bits |= 1 << bit;
             }
             if (bits == 0)
                 return Tr("give at least one icon size");
             r.options.settings.ICODim = bits;
             r.iconOption = true;
             return QString();
         }},
        {"exists", 0, true,
         [](Request& r, const QString& v) {
             const QString policy = v.trimmed().toLower();
             if (policy != QLatin1String("unique") && policy != QLatin1String("overwrite"))
                 return Tr("give unique or overwrite");
             r.options.settings.Exists = policy == QLatin1String("overwrite") ? 1 : 0;
             return QString();
         }},
        {"dpi", 0, true,
         [](Request& r, const QString& v) {
             ConvertSettings& s = r.options.settings;
             if (v.trimmed().toLower() == QLatin1String("same")) {
                 s.TgtDPISameSrc = true;
                 return QString();
             }
             if (!ReadInt(v, kMinDPI, kMaxDPI, s.TgtDPI))
                 return Tr("give same or a resolution from %1 to %2").arg(kMinDPI).arg(kMaxDPI);
             s.TgtDPISameSrc = false;
             return QString();
         }},
        {"keep-metadata", 0, false, [](Request& r, const QString&) { r.keepMetadata = true; return QString(); }},
        {"resize", 0, true,
         [](Request& r, const QString& v) {
             r.edited = true;
             return ReadResize(v, r.options.settings.rfr);
         }},
        {"flip", 0, true,
         [](Request& r, const QString& v) {
             r.edited = true;
             return ReadFlip(v, r.options.settings.rfr.flip);
         }},
        {"rotate", 0, true,
         [](Request& r, const QString& v) {
             r.edited = true;
             return ReadAngle(v, r.options.settings.rfr.angle);
         }},
        {"text", 0, true,
         [](Request& r, const QString& v) {
             if (v.isEmpty())
                 return Tr("give the text to draw");
             r.edited = true;
             r.texts.push_back(NewCliText(v));
             r.stack.emplace_back(true, r.texts.size() - 1);
             return QString();
         }},
        {"text-font", 0, true, ForText([](CliText& t, const QString& v) { return ReadTextFont(v, t.params); })},
        {"text-size", 0, true, ForText([](CliText& t, const QString& v) { return ReadTextSize(v, t.params); })},
        {"text-style", 0, true, ForText([](CliText& t, const QString& v) { return ReadTextStyle(v, t.params); })},
        {"text-color", 0, true, ForText([](CliText& t, const QString& v) { return ReadTextColor(v, t.params); })},
        {"text-opacity", 0, true,
         ForText([](CliText& t, const QString& v) { return ReadOpacity(v, t.params.opacity); })},
        {"text-position", 0, true, ForText([](CliText& t, const QString& v) {
             TextParams& p = t.params;
             return ReadPosition(v, p.positionUnit, p.x, p.y, p.xValue, p.yValue);
         })},
        {"image", 0, true,
         [](Request& r, const QString& v) {
             if (v.isEmpty())
                 return Tr("give the picture to draw");
             r.edited = true;
             r.images.push_back(NewCliImage(v));
             r.stack.emplace_back(false, r.images.size() - 1);
             return QString();
         }},
        {"image-size", 0, true, ForImage([](CliImage& i, const QString& v) {
             i.size = v;
             return CheckImageSize(v);
         })},
        {"image-position", 0, true, ForImage([](CliImage& i, const QString& v) {
             ImageParams& p = i.params;
             return ReadPosition(v, p.positionUnit, p.x, p.y, p.xValue, p.yValue);
         })},
        {"image-opacity", 0, true,
         ForImage([](CliImage& i, const QString& v) { return ReadOpacity(v, i.params.opacity); })},
        {"image-flip", 0, true, ForImage([](CliImage& i, const QString& v) { return ReadFlip(v, i.params.flip); })},
        {"image-rotate", 0, true,
         ForImage([](CliImage& i, const QString& v) { return ReadAngle(v, i.params.angle); })},
    };
    return options;
}

const Option* FindLong(const QString& name)
{
    for (const Option& option : Options()) {
        if (name == QLatin1String(option.name))
            return &option;
    }
    return nullptr;
}

const Option* FindShort(QChar name)
{
    for (const Option& option : Options()) {
        if (option.shortName != 0 && name == QLatin1Char(option.shortName))
            return &option;
    }
    return nullptr;
}

// Checks what depends on the target format and fills the record.
QString Finish(Request& request)
{
    CliOptions& options = request.options;
    ConvertSettings& settings = options.settings;

    QString extension = request.format.trimmed().toLower();
    if (!extension.startsWith(QLatin1Char('.')))
        extension.prepend(QLatin1Char('.'));
    const PLMImageCodecID id = PLMImageCodec::GetID(extension);
    if (!PLMImageCodec::IsValid(id) || !ImageCodecVetoer().IsEnabled(id, PLMImageIOWrite))
        return Tr("--format: %1 is not a target format; give one of %2")
            .arg(request.format, WritableExtensions().join(QStringLiteral(", ")));
    settings.TgtFormat = extension;
    settings.TgtID = id;
    const QString name = PLMImageCodec(id).GetName();

    const QualityField* field = QualityFieldOf(id);
    if (request.quality) {
        if (!field || !field->quality)
            return Tr("--quality does not apply to %1 targets").arg(name);
        if (*request.quality < field->minimum || *request.quality > field->maximum)
            return Tr("--quality: %1 takes %2 to %3").arg(name).arg(field->minimum).arg(field->maximum);
        settings.*field->quality = *request.quality;
    }
    if (request.lossless) {
        if (!field || !field->lossless)
            return Tr("--lossless does not apply to %1 targets").arg(name);
        settings.*field->lossless = true;
    }
    if (request.rate) {
        if (id != PLMCodecJPEG2000)
            return Tr("--rate applies to JPEG 2000 targets only");
        settings.J2000CmpsnRate = *request.rate;
    }
    if (request.pageOption && id != PLMCodecPDF)
        return Tr("--page-size, --orientation and --align apply to PDF targets only");
    if (request.iconOption && id != PLMCodecICO)
        return Tr("--ico-sizes applies to ICO targets only");
    if (request.keepMetadata && !PLMImageCodec::CanKeepMetadata(id))
        return Tr("--keep-metadata: %1 targets cannot keep metadata").arg(name);
    settings.KeepMd = request.keepMetadata;

    if (options.sources.isEmpty())
        return Tr("no source given");
    if (request.sameFolder && !request.target.isEmpty())
        return Tr("give either -o or --same-folder");
    if (request.sameFolder)
        settings.TgtFolder = QString::fromLatin1(kSameAsSourceFile);
    else if (!request.target.isEmpty())
        settings.TgtFolder = QDir::cleanPath(QFileInfo(request.target).absoluteFilePath());
    else
        return Tr("no target folder: give -o FOLDER or --same-folder");

    // The watermarks, stacked in the order they were given.
    settings.edited = request.edited;
    for (size_t z = 0; z < request.stack.size(); ++z) {
        const auto& entry = request.stack.at(z);
        if (entry.first) {
            settings.items << MakeTextItem(request.texts.at(entry.second), double(z));
            continue;
        }
        QString error;
        const QSharedPointer<ItemEdited> item = MakeImageItem(request.images.at(entry.second), double(z), error);
        if (!item)
            return QStringLiteral("--image: ") + error;
        settings.items << item;
    }
    return QString();
}

} // namespace

bool ParseCliArguments(const QStringList& arguments, CliOptions& options, QString& error)
{
    Request request(options);
    bool optionsEnded = false;
    const auto fail = [&error](const QString& option, const QString& why) {
        error = option + QStringLiteral(": ") + why;
        return false;
    };
    for (int i = 1; i < arguments.size(); ++i) {
        const QString argument = arguments.at(i);
        if (optionsEnded || argument.size() < 2 || !argument.startsWith(QLatin1Char('-'))) {
            options.sources << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        // --name, --name=value, and the one-dash spelling of a long name.
        const bool twoDashes = argument.startsWith(QLatin1String("--"));
        const QString word = argument.mid(twoDashes ? 2 : 1);
        const int equals = word.indexOf(QLatin1Char('='));
        const QString name = equals < 0 ? word : word.left(equals);
        const Option* option = name.size() > 1 || twoDashes ? FindLong(name) : nullptr;
        QString value;
        bool hasValue = false;
        if (option) {
            hasValue = equals >= 0;
            value = word.mid(equals + 1);
        } else if (!twoDashes) {
            // Short options: -r, -j4, -j 4, -rj4.
            int letter = 0;
            for (; letter < word.size(); ++letter) {
                option = FindShort(word.at(letter));
                if (!option)
                    break;
                if (option->takesValue) {
                    value = word.mid(letter + 1);
                    hasValue = !value.isEmpty();
                    break;
                }
                if (letter + 1 < word.size()) {
                    const QString why = option->apply(request, QString());
                    if (!why.isEmpty())
                        return fail(QStringLiteral("-") + word.at(letter), why);
                }
            }
        }
        if (!option)
            return fail(argument, Tr("unknown option"));
        const QString shown = twoDashes || name.size() > 1 ? QStringLiteral("--") + QLatin1String(option->name)
                                                            : argument.left(2);
        if (option->takesValue && !hasValue) {
            if (i + 1 >= arguments.size())
                return fail(shown, Tr("a value is missing"));
            value = arguments.at(++i);
        } else if (!option->takesValue && hasValue && (twoDashes || name.size() > 1)) {
            return fail(shown, Tr("takes no value"));
        }
        const QString why = option->apply(request, value);
        if (!why.isEmpty())
            return fail(shown, why);
    }
    if (options.help || options.version)
        return true;
    error = Finish(request);
    return error.isEmpty();
}

QString CliUsage()
{
    return Tr("Usage: korvane-convert [OPTION]... SOURCE... -o FOLDER\n"
              "Convert images with the engine of the Korvane window: each SOURCE file (every\n"
              "page of a multi-page one) becomes a target file in FOLDER.\n"
              "\n"
              "Target:\n"
              "  -o, --output FOLDER    write the targets into FOLDER (made when missing)\n"
              "      --same-folder      write each target next to its source\n"
              "  -f, --format EXT       target format by its extension (default png):\n"
              "%1"
              "      --exists POLICY    when a target exists: unique (append a number, the\n"
              "                         default) or overwrite\n"
              "      --dpi N|same       resolution of the targets, 60 to 2400, or the source's\n"
              "                         own (default); PDF and SVG sources are drawn at N\n"
              "                         (default 72)\n"
              "      --keep-metadata    carry the source's metadata (GIF, JPEG, PNG, TIFF, HEIF,\n"
              "                         AVIF and JPEG XL targets)\n"
              "\n"
              "Format options:\n"
              "      --quality N        JPEG, WebP, HEIF, AVIF, JPEG XL 1-100; JPEG XR 1-99\n"
              "      --lossless         WebP, JPEG 2000, JPEG XR, AVIF, JPEG XL\n"
              "      --rate N           JPEG 2000 compression rate, 2-100 (smaller is better)\n"
              "      --page-size SIZE   PDF page: a4 (default), letter or legal\n"
              "      --orientation O    PDF page: portrait (default) or landscape\n"
              "      --align A          picture on the PDF page: center (default) or top-left\n"
              "      --ico-sizes LIST   icon sizes out of 16,32,48,64,128,256 (default 256)\n"
              "\n"
              "Edits, applied to every page as the window's editor applies them:\n"
              "      --resize GEOMETRY  W (pixels; the height keeps the aspect ratio), WxH or\n"
              "                         WxH! (exactly), P% (percent of the page, 1-500),\n"
              "                         PxQ% (each side)\n"
              "      --flip MODE        none, horizontal or vertical\n"
              "      --rotate DEGREES   clockwise\n"
              "      --text TEXT        draw a text watermark; the options below apply to the\n"
              "                         latest --text (repeat for more):\n"
              "      --text-font FAMILY an installed font family\n"
              "      --text-size SIZE   N or Npt (points), Npx (pixels), N% (of the page height)\n"
              "      --text-style LIST  bold, italic, underline (comma-separated)\n"
              "      --text-color COLOR red, #rrggbb, #aarrggbb (default black)\n"
              "      --text-opacity P   0-100 (default 100)\n"
              "      --text-position POS  X,Y in pixels or X%,Y% of the page (default 0,0)\n"
              "      --image FILE       draw a picture watermark; the options below apply to\n"
              "                         the latest --image (repeat for more):\n"
              "      --image-size SIZE  W or W% (the height keeps the picture's aspect ratio),\n"
              "                         WxH or W%xH% (default: the picture's own size)\n"
              "      --image-position POS  as --text-position\n"
              "      --image-opacity P  0-100 (default 100)\n"
              "      --image-flip MODE, --image-rotate DEGREES\n"
              "  Watermarks stack in the order given, the last on top.\n"
              "\n"
              "Run:\n"
              "  -r, --recursive        walk SOURCE folders and their subfolders\n"
              "  -j, --jobs N           convert N files at once (default: one per processor)\n"
              "      --json             print one result object per source on standard output:\n"
              "                         {\"source\", \"state\", \"targets\", \"error\"}\n"
              "      --save-settings    also store these options as the window's own\n"
              "  -h, --help             print this help and exit\n"
              "  -v, --version          print the version and exit\n"
              "Long options also take one dash (-quality 90) and their value after \"=\".\n"
              "\n"
              "A progress line is shown on standard error when it is a terminal. Ctrl+C\n"
              "cancels: files not started are skipped, files being written finish or leave\n"
              "nothing behind; a second Ctrl+C ends the program at once.\n"
              "\n"
              "Exit status: 0 when every source was converted, 1 when some failed (each is\n"
              "named on standard error with the reason), 2 for bad usage, 130 (143 on\n"
              "SIGTERM) when canceled.\n")
        .arg(Wrapped(WritableExtensions(), 25, 79));
}
