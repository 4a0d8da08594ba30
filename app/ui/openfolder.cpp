#include "openfolder.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QMessageBox>
#include <QUrl>

bool OpenFolder(const QString& folder, QWidget* parent)
{
    // A local-file URL: "#", "?" or "%" in a folder name are not URL syntax.
    if (QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        return true;
    QMessageBox::warning(parent, QCoreApplication::translate("OpenFolder", "Korvane Image Converter"),
                         QCoreApplication::translate("OpenFolder",
                                                     "The folder could not be opened: the desktop has no "
                                                     "program to show folders.\n\n%1")
                             .arg(QDir::toNativeSeparators(folder)),
                         QMessageBox::Ok);
    return false;
}
