#include "camera/imagememoryjpeg.h"

#include "camera/ueyeapi.h"
#include "platform/savefile.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>

namespace lapido {

namespace {

QImage::Format qtFormatOfBits(int bits)
{
    switch (bits) {
    case 8: return QImage::Format_Grayscale8;
    case 15: return QImage::Format_RGB555;
    case 16: return QImage::Format_RGB16;
    case 24: return QImage::Format_BGR888;
    case 32: return QImage::Format_RGB32;
    default: return QImage::Format_Invalid;
    }
}

} // namespace

int saveImageMemoryAsJpeg(const char* file, int quality, const char* bytes, int width, int height, int pitch, int bits)
{
    const QImage::Format f = qtFormatOfBits(bits);
    if (!file || !bytes || f == QImage::Format_Invalid)
        return ueye::kNoSuccess;
    const QImage frame(reinterpret_cast<const uchar*>(bytes), width, height, pitch, f);
    const QString why = writeWholeFile(QFile::decodeName(file), [&](QIODevice& device, QString*) {
        QImageWriter writer(&device, "jpg");
        writer.setQuality(quality > 0 && quality <= 100 ? quality : 75);
        return writer.write(frame);
    });
    return why.isEmpty() ? ueye::kSuccess : ueye::kNoSuccess;
}

} // namespace lapido
