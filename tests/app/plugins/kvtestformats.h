// Image formats that only the engine's tests use.
//
//   kvfail  writer: writes half of the image's bytes, then fails.
//   kvrec   writer: records the options and the image it was given as text
//           lines "quality=…", "compression=…", "description=…", "size=WxH",
//           "threads=…" (the codec-threads grant on the writing thread, 0
//           without one).
//   kvcur   writer: a well-formed cursor directory (type 2) of one entry.
//   kvgate  reader: touches "<file>.started", then waits (up to 30 s) until
//           "<file>.go" exists before it answers an 8×8 image.
//   ithmb   reader of a stand-in container (see MakeFakeThumbnailFile in the
//           tests): "KVITHMB1", mode, count, count × (offset, length), the
//           pictures. Mode 0 holds embedded JPEGs and answers Description and
//           size() = (offset, length) as the real thumbnail reader does; mode 1
//           holds decoded frames and does not support Description.
#ifndef KORVANE_TEST_KVTESTFORMATS_H
#define KORVANE_TEST_KVTESTFORMATS_H

#include <QImageIOPlugin>

class KvTestFormatsPlugin : public QImageIOPlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "kvtestformats.json")

public:
    Capabilities capabilities(QIODevice* device, const QByteArray& format) const override;
    QImageIOHandler* create(QIODevice* device, const QByteArray& format) const override;
};

#endif
