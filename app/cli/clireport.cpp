#include "clireport.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

QString StateName(ConvertState state)
{
    switch (state) {
    case ConvertSucceeded:
        return QStringLiteral("succeeded");
    case ConvertFailed:
        return QStringLiteral("failed");
    default:
        return QStringLiteral("canceled");
    }
}

QByteArray ResultJson(const QString& source, const ItemConvertResult& result)
{
    QJsonObject object;
    object.insert(QStringLiteral("source"), source);
    object.insert(QStringLiteral("state"), StateName(result.state));
    object.insert(QStringLiteral("targets"), QJsonArray::fromStringList(result.tgtFiles));
    object.insert(QStringLiteral("error"), result.error);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QString FailureLine(const QString& source, const ItemConvertResult& result)
{
    const QString reason =
        result.error.isEmpty() ? QCoreApplication::translate("CliReport", "the conversion failed") : result.error;
    return QStringLiteral("korvane-convert: %1: %2\n").arg(QDir::toNativeSeparators(source), reason);
}
