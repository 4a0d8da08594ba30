// The packed text entry that carries a source's metadata to the image writer.
//
// All keys travel as one key string and all values as one value string, each a
// ";"-separated list, and the key string ends in "FIMD" so the format plugin
// knows to split it. A ";" inside a key or value is written as "\;" and a "\"
// as "\\", so that an XMP packet (whose entities end in ";") or a list of
// keywords cannot shift the values that follow it.
//
// Header-only: the program packs, the format plugin unpacks, and neither
// links the other.
#ifndef PLM_METADATAPACKING_H
#define PLM_METADATAPACKING_H

#include <QString>
#include <QStringList>

namespace MetadataPacking {

inline QString PackedKeySuffix()
{
    return QStringLiteral("FIMD");
}

// One key or value with ";" and "\" escaped.
inline QString Escape(const QString& text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\\') || c == QLatin1Char(';'))
            escaped += QLatin1Char('\\');
        escaped += c;
    }
    return escaped;
}

// Splits a ";"-separated list at the unescaped separators and undoes the
// escaping. An escape character at the very end stands for itself.
inline QStringList SplitEscaped(const QString& packed)
{
    QStringList parts;
    QString current;
    for (int i = 0; i < packed.size(); ++i) {
        const QChar c = packed.at(i);
        if (c == QLatin1Char('\\') && i + 1 < packed.size()) {
            current += packed.at(++i);
        } else if (c == QLatin1Char(';')) {
            parts << current;
            current.clear();
        } else {
            current += c;
        }
    }
    parts << current;
    return parts;
}

// Packs keys and values (same length) into the two strings of the text entry:
// "Key1;Key2FIMD" and "Value1;Value2", each element escaped. Empty keys are
// left out with their values. Nothing to pack gives two empty strings.
inline void Pack(const QStringList& keys, const QStringList& values, QString& packedKeys, QString& packedValues)
{
    packedKeys.clear();
    packedValues.clear();
    bool first = true;
    for (int i = 0; i < keys.size(); ++i) {
        if (keys.at(i).isEmpty())
            continue;
        if (!first) {
            packedKeys += QLatin1Char(';');
            packedValues += QLatin1Char(';');
        }
        first = false;
        packedKeys += Escape(keys.at(i));
        packedValues += Escape(i < values.size() ? values.at(i) : QString());
    }
    if (!first)
        packedKeys += PackedKeySuffix();
}

// True when packedKeys is a packed key list (it ends in "FIMD"); then keys and
// values hold the unescaped elements. A value list shorter than the key list
// is padded with empty values and surplus values are dropped, so a damaged
// entry never pairs a key with another key's value by position alone.
inline bool Unpack(const QString& packedKeys, const QString& packedValues, QStringList& keys, QStringList& values)
{
    keys.clear();
    values.clear();
    if (!packedKeys.endsWith(PackedKeySuffix()))
        return false;
    keys = SplitEscaped(packedKeys.left(packedKeys.size() - PackedKeySuffix().size()));
    values = SplitEscaped(packedValues);
    while (values.size() < keys.size())
        values << QString();
    while (values.size() > keys.size())
        values.removeLast();
    return true;
}

} // namespace MetadataPacking

#endif
