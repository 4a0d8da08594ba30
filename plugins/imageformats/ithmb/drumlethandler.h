// Qt image-format plugin for ".ithmb" thumbnail containers.
#ifndef DRUMLET_HANDLER_H
#define DRUMLET_HANDLER_H

#include <QImageIOHandler>
#include <QImageIOPlugin>

class DrumletPlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "drumlet.json")
public:
    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format = QByteArray()) const override;
};

#endif
