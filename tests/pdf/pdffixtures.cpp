#include "pdffixtures.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QFile>
#include <QImageIOPlugin>
#include <QPageLayout>
#include <QPainter>
#include <QPdfWriter>
#include <QPluginLoader>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

namespace PdfFixtures {

QByteArray WrittenPdf(const QList<Page>& pages)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(72);
        writer.setTitle(QStringLiteral("Fixture"));
        QPainter painter;
        for (int i = 0; i < pages.size(); ++i) {
            const Page& page = pages.at(i);
            writer.setPageLayout(QPageLayout(QPageSize(page.sizePoints, QPageSize::Point), QPageLayout::Portrait,
                                             QMarginsF(), QPageLayout::Point));
            if (i == 0)
                painter.begin(&writer);
            else
                writer.newPage();
            painter.fillRect(page.box, page.colour);
        }
        painter.end();
    }
    return buffer.data();
}

namespace {

const QByteArray sPadding = QByteArray::fromHex("28BF4E5E4E758A4164004E56FFFA01082E2E00B6D0683E802F0CA9FE6453697A");

QByteArray Rc4(const QByteArray& key, const QByteArray& data)
{
    unsigned char s[256];
    for (int i = 0; i < 256; ++i)
        s[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + s[i] + static_cast<unsigned char>(key.at(i % key.size()))) & 255;
        std::swap(s[i], s[j]);
    }
    QByteArray out(data.size(), Qt::Uninitialized);
    for (int n = 0, i = 0, j = 0; n < data.size(); ++n) {
        i = (i + 1) & 255;
        j = (j + s[i]) & 255;
        std::swap(s[i], s[j]);
        out[n] = static_cast<char>(data.at(n) ^ s[(s[i] + s[j]) & 255]);
    }
    return out;
}

QByteArray Md5(const QByteArray& data)
{
    return QCryptographicHash::hash(data, QCryptographicHash::Md5);
}

QByteArray Padded(const QByteArray& password)
{
    return (password + sPadding).left(32);
}

// Objects numbered from 1 in list order, then the cross-reference table.
QByteArray Assemble(const QList<QByteArray>& objects, const QByteArray& trailer)
{
    QByteArray pdf("%PDF-1.4\n%\xE2\xE3\xCF\xD3\n");
    QList<int> offsets;
    for (int i = 0; i < objects.size(); ++i) {
        offsets << pdf.size();
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects.at(i) + "\nendobj\n";
    }
    const int xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (int offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + " /Root 1 0 R " + trailer + " >>\n";
    pdf += "startxref\n" + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

} // namespace

QByteArray HandPdf(const Info& info, QSizeF pageSize, const QByteArray& userPassword,
                   const QByteArray& ownerPassword)
{
    const bool encrypted = !userPassword.isEmpty() || !ownerPassword.isEmpty();
    const QByteArray fileId = Md5("korvane test document");
    const int permissions = -4;
    QByteArray fileKey, ownerEntry, userEntry;
    if (encrypted) {
        // Standard security handler, revision 2.
        const QByteArray ownerKey = Md5(Padded(ownerPassword.isEmpty() ? userPassword : ownerPassword)).left(5);
        ownerEntry = Rc4(ownerKey, Padded(userPassword));
        QByteArray p(4, 0);
        for (int i = 0; i < 4; ++i)
            p[i] = static_cast<char>((permissions >> (8 * i)) & 0xFF);
        fileKey = Md5(Padded(userPassword) + ownerEntry + p + fileId).left(5);
        userEntry = Rc4(fileKey, sPadding);
    }
    auto protect = [&](int object, const QByteArray& data) {
        if (!encrypted)
            return data;
        QByteArray salt(5, 0);
        salt[0] = static_cast<char>(object & 0xFF);
        salt[1] = static_cast<char>((object >> 8) & 0xFF);
        salt[2] = static_cast<char>((object >> 16) & 0xFF);
        return Rc4(Md5(fileKey + salt).left(10), data);
    };

    const QByteArray content = protect(4, "1 0 0 rg 10 10 50 50 re f\n");
    QList<QByteArray> objects;
    objects << "<< /Type /Catalog /Pages 2 0 R >>";
    objects << "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
    objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + QByteArray::number(pageSize.width()) + " "
                   + QByteArray::number(pageSize.height()) + "] /Contents 4 0 R /Resources << >> >>";
    objects << "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream";

    QByteArray trailer = "/ID [<" + fileId.toHex() + "> <" + fileId.toHex() + ">]";
    if (!info.isEmpty()) {
        QByteArray dict = "<<";
        for (const auto& entry : info) {
            QByteArray value = entry.second;
            if (encrypted && value.startsWith('(') && value.endsWith(')'))
                value = '<' + protect(5, value.mid(1, value.size() - 2)).toHex() + '>';
            dict += " /" + entry.first + " " + value;
        }
        objects << dict + " >>";
        trailer += " /Info 5 0 R";
    }
    if (encrypted) {
        objects << "<< /Filter /Standard /V 1 /R 2 /O <" + ownerEntry.toHex() + "> /U <" + userEntry.toHex()
                       + "> /P " + QByteArray::number(permissions) + " >>";
        trailer += " /Encrypt " + QByteArray::number(objects.size()) + " 0 R";
    }
    return Assemble(objects, trailer);
}

QByteArray PagelessPdf()
{
    return Assemble({"<< /Type /Catalog /Pages 2 0 R >>", "<< /Type /Pages /Kids [] /Count 0 >>"}, QByteArray());
}

QByteArray FormsDrawingFormsPdf(int depth)
{
    // Objects 1 to 4: catalog, pages, page, page content; 5 on: the forms.
    QList<QByteArray> objects;
    objects << "<< /Type /Catalog /Pages 2 0 R >>";
    objects << "<< /Type /Pages /Kids [3 0 R] /Count 1 >>";
    objects << "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 200 200] /Contents 4 0 R "
               "/Resources << /XObject << /F 5 0 R >> >> >>";
    const QByteArray draw = "/F Do\n";
    objects << "<< /Length " + QByteArray::number(draw.size()) + " >>\nstream\n" + draw + "endstream";
    for (int level = 0; level < depth; ++level) {
        const bool last = level + 1 == depth;
        const QByteArray content = last ? QByteArray("0 0 1 rg 10 10 50 50 re f\n") : QByteArray("/F Do /F Do\n");
        QByteArray form = "<< /Type /XObject /Subtype /Form /BBox [0 0 200 200] /Length "
                          + QByteArray::number(content.size());
        if (!last)
            form += " /Resources << /XObject << /F " + QByteArray::number(6 + level) + " 0 R >> >>";
        objects << form + " >>\nstream\n" + content + "endstream";
    }
    return Assemble(objects, QByteArray());
}

QString Save(const QString& dir, const QString& name, const QByteArray& bytes)
{
    const QString path = dir + QLatin1Char('/') + name;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return QString();
    return path;
}

QRect InkBox(const QImage& image)
{
    int left = image.width(), top = image.height(), right = -1, bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) + qGreen(p) + qBlue(p) < 3 * 255 - 60) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
        }
    }
    return right < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

QImageIOPlugin* Plugin()
{
    QPluginLoader loader(QStringLiteral(KORVANE_PDF_PLUGIN_FILE));
    return qobject_cast<QImageIOPlugin*>(loader.instance());
}

int PackedLayout(int pageSize, int orientation, int alignment)
{
    return ((((alignment << 4) | (orientation & 15)) << 8 | (pageSize & 255)) << 16) | 1;
}

QImage Picture(int width, int height, int dpi)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(Qt::red);
    for (int y = 0; y < height; ++y)
        for (int x = width / 2; x < width; ++x)
            image.setPixel(x, y, qRgb(0, 0, 255));
    const int dpm = qRound(dpi * 1000 / 25.4);
    image.setDotsPerMeterX(dpm);
    image.setDotsPerMeterY(dpm);
    return image;
}

namespace {

// Edges within the antialiased pixel.
bool Near(const QRect& actual, const QRectF& expected)
{
    return qAbs(actual.left() - expected.left()) <= 1 && qAbs(actual.top() - expected.top()) <= 1
        && qAbs(actual.right() + 1 - expected.right()) <= 1 && qAbs(actual.bottom() + 1 - expected.bottom()) <= 1;
}

// Resampling a shrunk picture may be off by a step or two per channel.
bool SameColour(QRgb actual, QRgb expected)
{
    return qAbs(qRed(actual) - qRed(expected)) <= 2 && qAbs(qGreen(actual) - qGreen(expected)) <= 2
        && qAbs(qBlue(actual) - qBlue(expected)) <= 2;
}

QByteArray RunTool(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return QByteArray();
    return process.readAllStandardOutput();
}

} // namespace

void CheckPage(const QImage& page, const QRectF& where)
{
    const QRect ink = InkBox(page);
    QVERIFY2(Near(ink, where), qPrintable(QString("ink at %1,%2 %3x%4").arg(ink.x()).arg(ink.y())
                                              .arg(ink.width()).arg(ink.height())));
    const int y = qRound(where.center().y());
    QVERIFY(SameColour(page.pixel(qRound(where.left() + where.width() / 4), y), qRgb(255, 0, 0)));
    QVERIFY(SameColour(page.pixel(qRound(where.right() - where.width() / 4), y), qRgb(0, 0, 255)));
}

bool HaveTools()
{
    for (const char* tool : {"pdfinfo", "pdfimages", "pdftoppm"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            return false;
    }
    return true;
}

void CheckWithTools(const QString& path, const QSize& imageSize, const QSize& page, const QRectF& where)
{
    const QString info = RunTool("pdfinfo", {path});
    QVERIFY2(info.contains(QRegularExpression(QString("Page size:\\s+%1 x %2 pts").arg(page.width()).arg(page.height()))),
             qPrintable(info));
    QVERIFY(info.contains(QRegularExpression("Pages:\\s+1\\n")));

    // page num type width height color comp bpc enc interp object ID x-ppi y-ppi size ratio
    const QStringList rows = QString(RunTool("pdfimages", {"-list", path})).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 3);
    const QStringList row = rows.at(2).simplified().split(' ');
    QCOMPARE(row.mid(2, 7), QStringList({"image", QString::number(imageSize.width()),
                                         QString::number(imageSize.height()), "rgb", "3", "8", "image"}));
    const double ppi = imageSize.width() * 72.0 / where.width();
    QVERIFY2(qAbs(row.at(12).toDouble() - ppi) <= 1, qPrintable(rows.at(2)));

    QTemporaryDir dir;
    const QString png = dir.path() + "/page";
    RunTool("pdftoppm", {"-r", "72", "-png", "-singlefile", path, png});
    const QImage rendered(png + ".png");
    QCOMPARE(rendered.size(), page);
    CheckPage(rendered.convertToFormat(QImage::Format_RGB32), where);
}

QList<PageCase> PageCases()
{
    struct Paper { int id; const char* name; QSize portrait; };
    const Paper papers[] = {{0, "A4", QSize(595, 842)}, {2, "Letter", QSize(612, 792)}, {3, "Legal", QSize(612, 1008)}};
    QList<PageCase> cases;
    for (const Paper& paper : papers) {
        for (int orientation : {0, 1}) {
            const QSize page = orientation ? paper.portrait.transposed() : paper.portrait;
            for (int alignment : {0, 1}) {
                const QRectF where = alignment ? QRectF(0, 0, 100, 50)
                                               : QRectF((page.width() - 100) / 2.0, (page.height() - 50) / 2.0, 100, 50);
                const QByteArray name = QByteArray(paper.name) + (orientation ? " landscape" : " portrait")
                                        + (alignment ? " top left" : " centre");
                cases << PageCase{name, paper.id, orientation, alignment, page, where};
            }
        }
    }
    return cases;
}

} // namespace PdfFixtures
