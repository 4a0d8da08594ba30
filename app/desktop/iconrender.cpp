// Build-time tool: renders the application icon's SVG into the PNG sizes of
// the icon theme.  Usage: iconrender SVG OUTDIR SIZE...
// writes OUTDIR/<SIZE>x<SIZE>/<name of the SVG>.png for each size.
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>

int main(int argc, char** argv)
{
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (args.size() < 4) {
        std::fprintf(stderr, "usage: iconrender SVG OUTDIR SIZE...\n");
        return 2;
    }
    QSvgRenderer renderer(args.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "iconrender: cannot read %s\n", qPrintable(args.at(1)));
        return 1;
    }
    const QString name = QFileInfo(args.at(1)).completeBaseName() + QStringLiteral(".png");
    for (int i = 3; i < args.size(); ++i) {
        const int size = args.at(i).toInt();
        if (size <= 0) {
            std::fprintf(stderr, "iconrender: bad size %s\n", qPrintable(args.at(i)));
            return 2;
        }
        QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        renderer.render(&painter, QRectF(0, 0, size, size));
        painter.end();
        const QString folder = QStringLiteral("%1/%2x%2").arg(args.at(2)).arg(size);
        if (!QDir().mkpath(folder) || !image.save(folder + QLatin1Char('/') + name, "png")) {
            std::fprintf(stderr, "iconrender: cannot write %s\n", qPrintable(folder + QLatin1Char('/') + name));
            return 1;
        }
    }
    return 0;
}
