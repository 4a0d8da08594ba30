#include "gen/plugins.h"

#include <QDebug>
#include <QSettings>
#include <QStringList>

namespace {

QString& CreditsText()
{
    static QString text;
    return text;
}

QString Notice(const QString& title, const QStringList& lines)
{
    QString notice = QStringLiteral("<span style=\" font-size:10pt; font-weight:800; color:#000000;\">")
                     + QStringLiteral("<br>") + title + QStringLiteral("<br/>")
                     + QStringLiteral("<span style=\" font-size:8pt; font-weight:450; color:#000000;\">");
    for (const QString& line : lines)
        notice += QStringLiteral("<br>") + line + QStringLiteral("<br/>");
    notice += QStringLiteral("</span></span>");
    return notice;
}

} // namespace

void ClearCredits()
{
    CreditsText().clear();
}

void AppendCredits(const QString& notice)
{
    CreditsText() += QStringLiteral("<br><br/><br><br/>") + notice;
}

const QString& PLMCredits()
{
    return CreditsText();
}

QString PLMFreeImageNotice()
{
    return Notice(QStringLiteral("FreeImage Public License Version 1.0"), {
        QStringLiteral("This software uses the FreeImage open source image library, "
                       "copyright the FreeImage Project: Floris van den Berg, Herv&eacute; Drolon and contributors."),
        QStringLiteral("See https://freeimage.sourceforge.io for details."),
        QStringLiteral("FreeImage is used under the FreeImage Public License (FIPL), version 1.0."),
        QStringLiteral("The Initial Developer grants You a world-wide, royalty-free, non-exclusive license, "
                       "subject to third party intellectual property claims:"),
        QStringLiteral("(a) to use, reproduce, modify, display, perform, sublicense and distribute the Original Code "
                       "(or portions thereof) with or without Modifications, or as part of a Larger Work; and"),
        QStringLiteral("(b) under patents now or hereafter owned or controlled by Initial Developer, to make, "
                       "have made, use and sell (\"Utilize\") the Original Code (or portions thereof), "
                       "but solely to the extent that any such patent is reasonably necessary to enable You "
                       "to Utilize the Original Code (or portions thereof) and not to any greater extent "
                       "that may be necessary to Utilize further Modifications or combinations."),
        QStringLiteral("COVERED CODE IS PROVIDED UNDER THIS LICENSE ON AN \"AS IS\" BASIS, WITHOUT WARRANTY OF ANY KIND."),
    });
}

QString PLMXpdfNotice()
{
    return Notice(QStringLiteral("Xpdf GPL Version 2 or 3"), {
        QStringLiteral("Xpdf is copyright 1996-2014 Glyph &amp; Cog, LLC."),
        QStringLiteral("See http://www.xpdfreader.com for details."),
        QStringLiteral("Xpdf is licensed under the GNU General Public License (GPL), version 2 or version 3."),
        QStringLiteral("If you redistribute Xpdf binaries, you must include the documentation files: "
                       "README, man pages (or help files), COPYING, and COPYING3."),
        QStringLiteral("This program is distributed in the hope that it will be useful, but WITHOUT ANY WARRANTY; "
                       "without even the implied warranty of MERCHANTABILITY or FITNESS FOR A PARTICULAR PURPOSE."),
    });
}

QString PLMHeifNotice()
{
    return Notice(QStringLiteral("libheif, libde265 and x265"), {
        QStringLiteral("HEIF files are read and written with libheif, copyright Dirk Farin and struktur AG, "
                       "licensed under the GNU Lesser General Public License (LGPL), version 3. "
                       "See https://github.com/strukturag/libheif for details."),
        QStringLiteral("HEVC pictures are decoded with libde265, copyright Dirk Farin and struktur AG, "
                       "licensed under the GNU Lesser General Public License (LGPL), version 3."),
        QStringLiteral("HEVC pictures are encoded with x265, copyright MulticoreWare, Inc., "
                       "licensed under the GNU General Public License (GPL), version 2 or later."),
        QStringLiteral("These libraries are distributed in the hope that they will be useful, but WITHOUT ANY "
                       "WARRANTY; without even the implied warranty of MERCHANTABILITY or FITNESS FOR A "
                       "PARTICULAR PURPOSE."),
    });
}

QString PLMAvifNotice()
{
    return Notice(QStringLiteral("libavif, libaom and dav1d (BSD 2-Clause License)"), {
        QStringLiteral("AVIF files are read and written with libavif, copyright Joe Drago and the libavif authors; "
                       "AV1 pictures are encoded with libaom, copyright the Alliance for Open Media "
                       "(also under the Alliance for Open Media Patent License 1.0), and decoded with dav1d, "
                       "copyright VideoLAN and the dav1d authors."),
        QStringLiteral("Redistribution and use in source and binary forms, with or without modification, are "
                       "permitted provided that the following conditions are met: redistributions of source code "
                       "must retain the copyright notice, this list of conditions and the following disclaimer; "
                       "redistributions in binary form must reproduce the copyright notice, this list of "
                       "conditions and the following disclaimer in the documentation and/or other materials "
                       "provided with the distribution."),
        QStringLiteral("THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS AND CONTRIBUTORS \"AS IS\" AND ANY "
                       "EXPRESS OR IMPLIED WARRANTIES ARE DISCLAIMED."),
    });
}

QString PLMJxlNotice()
{
    return Notice(QStringLiteral("libjxl (BSD 3-Clause License)"), {
        QStringLiteral("JPEG XL files are read and written with libjxl, copyright the JPEG XL Project Authors."),
        QStringLiteral("Redistribution and use in source and binary forms, with or without modification, are "
                       "permitted provided that the copyright notice, the list of conditions and the disclaimer "
                       "are retained, and that neither the name of the copyright holder nor the names of its "
                       "contributors are used to endorse or promote products derived from this software "
                       "without specific prior written permission."),
        QStringLiteral("THIS SOFTWARE IS PROVIDED BY THE COPYRIGHT HOLDERS AND CONTRIBUTORS \"AS IS\" AND ANY "
                       "EXPRESS OR IMPLIED WARRANTIES ARE DISCLAIMED."),
    });
}

void PLMInitPlugins()
{
    ClearCredits();
    QSettings settings(QStringLiteral("Pelmora"), QStringLiteral("Plugins"));

    qDebug() << "PLMInitPlugins BUILD_PLUGIN_FREEIMAGE";
    settings.setValue(QStringLiteral("FreeImage"), true);
    AppendCredits(PLMFreeImageNotice());
    AppendCredits(PLMHeifNotice());
    AppendCredits(PLMAvifNotice());
    AppendCredits(PLMJxlNotice());

    qDebug() << "PLMInitPlugins BUILD_PLUGIN_PDF";
    settings.setValue(QStringLiteral("Xpdf"), true);
    AppendCredits(PLMXpdfNotice());

    qDebug() << "PLMInitPlugins BUILD_PLUGIN_ITHMB";
    settings.setValue(QStringLiteral("Ithmb"), true);
}
