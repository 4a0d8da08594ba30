#include "icojoin.h"

#include <QtEndian>

namespace {

quint16 ReadLE16(const QByteArray& data, int pos)
{
    return qFromLittleEndian<quint16>(reinterpret_cast<const uchar*>(data.constData()) + pos);
}

quint32 ReadLE32(const QByteArray& data, int pos)
{
    return qFromLittleEndian<quint32>(reinterpret_cast<const uchar*>(data.constData()) + pos);
}

} // namespace

bool JoinIcons(const QList<QByteArray>& parts, QByteArray& icon)
{
    const int headerSize = 6;
    const int entrySize = 16;
    QList<QByteArray> entries;
    QList<QByteArray> images;
    for (const QByteArray& part : parts) {
        if (part.size() < headerSize || ReadLE16(part, 0) != 0 || ReadLE16(part, 2) != 1)
            return false;
        const int count = ReadLE16(part, 4);
        const qint64 directoryEnd = headerSize + qint64(count) * entrySize;
        if (count == 0 || directoryEnd > part.size())
            return false;
        for (int i = 0; i < count; ++i) {
            const int entryPos = headerSize + i * entrySize;
            const qint64 length = ReadLE32(part, entryPos + 8);
            const qint64 offset = ReadLE32(part, entryPos + 12);
            if (offset < directoryEnd || offset + length > part.size())
                return false;
            entries << part.mid(entryPos, entrySize);
            images << part.mid(int(offset), int(length));
        }
    }
    if (entries.isEmpty() || entries.size() > 0xffff)
        return false;

    icon.clear();
    uchar word[4];
    const auto append16 = [&](quint16 value) {
        qToLittleEndian(value, word);
        icon.append(reinterpret_cast<const char*>(word), 2);
    };
    append16(0);
    append16(1);
    append16(quint16(entries.size()));
    qint64 offset = headerSize + qint64(entries.size()) * entrySize;
    for (int i = 0; i < entries.size(); ++i) {
        QByteArray entry = entries.at(i);
        qToLittleEndian(quint32(offset), reinterpret_cast<uchar*>(entry.data()) + 12);
        icon += entry;
        offset += images.at(i).size();
    }
    for (const QByteArray& image : images)
        icon += image;
    return true;
}
