// A station without a machine, with fresh settings and globals, for the picture tests.
#pragma once

#include "camera/videooverlay.h"
#include "records/filelogging.h"
#include "records/loggingproxy.h"
#include "glyphs/glyph.h"
#include "machine/laser.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"
#include "workflow/station.h"

#include "testsupport.h"

#include <QColor>
#include <QDir>
#include <QFile>

#include <memory>

namespace lapido::test {

class PictureFixture : public StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        Settings() = TSettings{};
        resetStationGlobals();
        setLaser(nullptr);
        setWorkingDir(scratch() + QStringLiteral("/"));
        m_station = std::make_unique<TStation>();
        m_camera.UpdateVideoTransform(Settings(), false);
    }
    void TearDown() override
    {
        m_station.reset();
        Settings() = TSettings{};
        resetStationGlobals();
        StationFixture::TearDown();
    }
    TStation& st() { return *m_station; }

    // Table, marking reference and focus at the given place, inside every travel limit.
    void standAt(double x, double y, double z = 12.5)
    {
        st().AxisPosition_X = st().MarkingReference_X = x;
        st().AxisPosition_Y = st().MarkingReference_Y = y;
        st().AxisPosition_Z = st().MarkingReference_Z = z;
    }
    QImage paintOverlay()
    {
        QImage picture(kVideoBufferWidth, kVideoBufferHeight, QImage::Format_RGB32);
        picture.fill(0xFF000000);
        PaintVideoOverlay(picture, st(), m_camera, Settings());
        return picture;
    }
    static int countColour(const QImage& img, QRgb colour, const QRect& area)
    {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x)
                n += (img.pixel(x, y) | 0xFF000000) == (colour | 0xFF000000);
        return n;
    }
    static QRgb stored(std::uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF).rgb(); }

    std::unique_ptr<TStation> m_station;
    TVideoTransform m_camera;
};

// Maintenance records written to files in the scratch folder, for the camera failure paths.
class CameraRecordsFixture : public StationFixture {
protected:
    void SetUp() override
    {
        StationFixture::SetUp();
        store().WriteString(QStringLiteral("LoggingDatabase"), QStringLiteral("logfileenabled"), QStringLiteral("1"));
        store().WriteString(QStringLiteral("LoggingDatabase"), QStringLiteral("logfilebasedir"), scratch());
        TLoggingProxy::ResetInstance();
        TFileLogging::ResetInstance();
    }
    void TearDown() override
    {
        TLoggingProxy::ResetInstance();
        StationFixture::TearDown();
    }
    void clearCameraRecords() const
    {
        for (const QString& f : QDir(scratch()).entryList({QStringLiteral("CameraNotAvailable_*.log")}))
            QFile::remove(scratch(f));
    }
    // The action texts of the CameraNotAvailable records written so far; with values, the
    // value written beside each.
    QStringList cameraRecords(QStringList* values = nullptr) const
    {
        QStringList texts;
        for (const QString& f : QDir(scratch()).entryList({QStringLiteral("CameraNotAvailable_*.log")})) {
            QFile file(scratch(f));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            const QList<QByteArray> fields = file.readAll().split('\n').value(1).split('\t');
            texts << QString::fromUtf8(fields.value(0));
            if (values)
                *values << QString::fromUtf8(fields.value(1));
        }
        return texts;
    }
};

} // namespace lapido::test
