// Camera self-calibration: table steps, phase correlation of the frames, least-squares fit.
#include "camera/calibration.h"

#include "camera/ueye.h"
#include "camera/videooverlay.h"
#include "machine/laser.h"
#include "platform/clock.h"
#include "platform/operatordialogs.h"
#include "platform/settingsstore.h"
#include "settings/settingsrecord.h"

#include <QCoreApplication>

#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

namespace lapido {

namespace {

QString tr(const char* text)
{
    return QCoreApplication::translate("CameraCalibration", text);
}

constexpr double kDegPerRad = 180.0 / std::numbers::pi;

// What the settings' Video page takes.
constexpr std::array<int, 2> kVideoScaleRange{1, 100000};
constexpr std::array<int, 2> kVideoAspectRange{50, 200};
constexpr std::array<int, 2> kCrossHairMax{768, 576};

// A peak weaker than this is noise: the picture shows nothing the correlation can follow.
constexpr double kWeakestPeak = 0.03;
// The first two steps move the picture by about this many pixels at the stored scale, little
// enough to stay well inside the frame even when the stored scale is far off.
constexpr double kProbeShiftPx = 40;

cv::Mat greyMat(const QImage& image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    cv::Mat view(grey.height(), grey.width(), CV_8UC1, const_cast<uchar*>(grey.constBits()), size_t(grey.bytesPerLine()));
    cv::Mat out;
    view.convertTo(out, CV_32F);
    return out;
}

// Shift of the table-to-picture model for a table move: d = -M * move.
QPointF predictedShift(const CameraCalibration& c, QPointF move)
{
    const double r = c.rotationDeg / kDegPerRad;
    const double sx = c.scalePxPerMm, sy = c.scalePxPerMm * c.aspectPercent / 100.0;
    const double u = sx * (std::cos(r) * move.x() - std::sin(r) * move.y());
    const double v = -sy * (std::sin(r) * move.x() + std::cos(r) * move.y());
    return {-u, -v};
}

// Table move that shifts the picture by `shift` under the fitted camera (inverse of the above).
QPointF tableMoveFor(const CameraCalibration& c, QPointF shift)
{
    const double r = c.rotationDeg / kDegPerRad;
    const double sx = c.scalePxPerMm, sy = c.scalePxPerMm * c.aspectPercent / 100.0;
    const double a = -shift.x() / sx, b = shift.y() / sy;
    return {std::cos(r) * a + std::sin(r) * b, -std::sin(r) * a + std::cos(r) * b};
}

} // namespace

bool CameraCalibration::rotationWarning() const
{
    return std::abs(rotationDeg) > kCalibrationRotationWarningDeg;
}

int CameraCalibration::videoScale() const
{
    return int(std::lround(scalePxPerMm));
}

int CameraCalibration::videoAspect() const
{
    return int(std::lround(aspectPercent));
}

std::optional<CameraCalibration> fitCameraCalibration(std::span<const CalibrationSample> samples)
{
    // The general linear map first: each picture axis is a least-squares plane through the
    // table moves (normal equations of two unknowns).
    double sxx = 0, sxy = 0, syy = 0;
    std::array<double, 2> bu{}, bv{};
    for (const auto& s : samples) {
        const double x = s.tableMoveMm.x(), y = s.tableMoveMm.y();
        sxx += x * x;
        sxy += x * y;
        syy += y * y;
        bu[0] -= x * s.shiftPx.x();
        bu[1] -= y * s.shiftPx.x();
        bv[0] -= x * s.shiftPx.y();
        bv[1] -= y * s.shiftPx.y();
    }
    const double det = sxx * syy - sxy * sxy;
    if (!(std::abs(det) > 1e-12 * std::max(1.0, sxx * syy)))
        return std::nullopt;
    const double m00 = (syy * bu[0] - sxy * bu[1]) / det, m01 = (sxx * bu[1] - sxy * bu[0]) / det;
    const double m10 = (syy * bv[0] - sxy * bv[1]) / det, m11 = (sxx * bv[1] - sxy * bv[0]) / det;

    // Then the camera's form of it: M = diag(sx, -sy) * R(rotation). Its two rows each give the
    // angle; their mean is the rotation, and what is left over shows in the residual.
    CameraCalibration c;
    const double sx = std::hypot(m00, m01), sy = std::hypot(m10, m11);
    if (!(sx > 0) || !(sy > 0))
        return std::nullopt;
    const double angleX = std::atan2(-m01, m00), angleY = std::atan2(-m10, -m11);
    const double mean = angleX + std::remainder(angleY - angleX, 2 * std::numbers::pi) / 2;
    c.scalePxPerMm = sx;
    c.aspectPercent = 100.0 * sy / sx;
    c.rotationDeg = mean * kDegPerRad;

    double sum = 0;
    for (const auto& s : samples) {
        const QPointF miss = s.shiftPx - predictedShift(c, s.tableMoveMm);
        sum += std::pow(miss.x() / sx * 1000.0, 2) + std::pow(miss.y() / sy * 1000.0, 2);
    }
    c.residualUm = samples.empty() ? 0 : std::sqrt(sum / double(samples.size()));
    c.frames = int(samples.size());
    return c;
}

namespace {

// The largest length not above n that the FFT handles quickly (only small prime factors): a
// frame width such as 1012 = 4 * 11 * 23 would otherwise take several times longer.
int fastFftLength(int n)
{
    for (int m = n; m > 1; --m)
        if (cv::getOptimalDFTSize(m) == m)
            return m;
    return n;
}

} // namespace

QPointF measureShift(const QImage& from, const QImage& to, double* response)
{
    cv::Mat a = greyMat(from), b = greyMat(to);
    if (a.empty() || a.size() != b.size()) {
        if (response)
            *response = 0;
        return {};
    }
    // The middle of both frames, cut to a fast transform size; a shift does not depend on
    // where the cut lies as long as it is the same in both.
    const cv::Rect middle((a.cols - fastFftLength(a.cols)) / 2, (a.rows - fastFftLength(a.rows)) / 2,
                          fastFftLength(a.cols), fastFftLength(a.rows));
    a = a(middle).clone();
    b = b(middle).clone();
    // The window keeps the frame's borders from correlating with each other.
    cv::Mat window;
    cv::createHanningWindow(window, a.size(), CV_32F);
    double peak = 0;
    const cv::Point2d shift = cv::phaseCorrelate(a, b, window, &peak);
    if (response)
        *response = peak;
    return {shift.x, shift.y};
}

std::optional<QPointF> findTestMark(const QImage& image)
{
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    if (grey.isNull() || grey.width() < 8 || grey.height() < 8)
        return std::nullopt;
    const cv::Mat view(grey.height(), grey.width(), CV_8UC1, const_cast<uchar*>(grey.constBits()), size_t(grey.bytesPerLine()));
    // Smoothing first, so that sensor noise neither breaks the mark up nor makes dark specks.
    cv::Mat smooth;
    cv::GaussianBlur(view, smooth, cv::Size(5, 5), 1.0);
    std::array<int, 256> histogram{};
    for (int y = 0; y < smooth.rows; ++y) {
        const uchar* row = smooth.ptr<uchar>(y);
        for (int x = 0; x < smooth.cols; ++x)
            ++histogram[row[x]];
    }
    const double total = double(smooth.total());
    auto percentile = [&](double p) {
        double seen = 0;
        for (int level = 0; level < 256; ++level)
            if ((seen += histogram[size_t(level)]) >= p * total)
                return level;
        return 255;
    };
    const int darkest = percentile(0.00002), median = percentile(0.5);
    // The mark must stand out far below the stone's own dark places.
    if (median - darkest < 40)
        return std::nullopt;
    const int threshold = darkest + (median - darkest) * 35 / 100;
    cv::Mat dark;
    cv::threshold(smooth, dark, threshold, 255, cv::THRESH_BINARY_INV);
    cv::Mat labels, stats, centroids;
    const int n = cv::connectedComponentsWithStats(dark, labels, stats, centroids, 8, CV_32S);
    int best = -1, bestArea = 0;
    for (int i = 1; i < n; ++i) {
        const int w = stats.at<int>(i, cv::CC_STAT_WIDTH), h = stats.at<int>(i, cv::CC_STAT_HEIGHT);
        const int area = stats.at<int>(i, cv::CC_STAT_AREA);
        // A spot: round-ish and filled, not a line such as the girdle's edge.
        const bool compact = w >= 3 && h >= 3 && w <= 3 * h && h <= 3 * w && area * 2 >= w * h
                             && w < smooth.cols / 4 && h < smooth.rows / 4;
        if (compact && area > bestArea) {
            best = i;
            bestArea = area;
        }
    }
    if (best < 0 || bestArea < 9)
        return std::nullopt;
    // The centre weighted by darkness over the spot and its rim, which the threshold cuts
    // unevenly.
    const int x0 = std::max(0, stats.at<int>(best, cv::CC_STAT_LEFT) - 2);
    const int y0 = std::max(0, stats.at<int>(best, cv::CC_STAT_TOP) - 2);
    const int x1 = std::min(smooth.cols - 1, stats.at<int>(best, cv::CC_STAT_LEFT) + stats.at<int>(best, cv::CC_STAT_WIDTH) + 1);
    const int y1 = std::min(smooth.rows - 1, stats.at<int>(best, cv::CC_STAT_TOP) + stats.at<int>(best, cv::CC_STAT_HEIGHT) + 1);
    // Weights grow linearly with darkness below the middle between stone and mark, so that a
    // rim pixel counts by the part of it the mark covers and the stone's grain counts not at all.
    const double middle = darkest + 0.5 * (median - darkest);
    double sw = 0, sx = 0, sy = 0;
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const double weight = std::max(0.0, middle - view.at<uchar>(y, x));
            sw += weight;
            sx += weight * x;
            sy += weight * y;
        }
    if (!(sw > 0))
        return QPointF(centroids.at<double>(best, 0), centroids.at<double>(best, 1));
    return QPointF(sx / sw, sy / sw);
}

CalibrationOutcome CalibrateCamera(TLaser& laser, TuEye& camera, const TSettings& settings, Clock& clock,
                                   const CalibrationOptions& options, const CalibrationProgress& progress)
{
    CalibrationOutcome outcome;
    auto fail = [&](const QString& why) {
        outcome.error = why;
        return outcome;
    };
    if (!camera.IsPresent() || camera.ImageMemPnt == nullptr)
        return fail(tr("No camera picture to calibrate on."));
    const int width = camera.fMaxWidth, height = camera.fMaxHeight;
    const QImage::Format format = videoFormatForBits(camera.BitsPerPixel);
    if (width < 64 || height < 64 || format == QImage::Format_Invalid)
        return fail(tr("The camera's frames cannot be used for calibration."));
    // Frame pixels to picture pixels: the frame is centred on the picture.
    const QPointF frameToPicture((kVideoBufferWidth - width) / 2, (kVideoBufferHeight - height) / 2);

    const std::int64_t startUs = clock.nowUs();
    double x0 = 0, y0 = 0, z0 = 0, w0 = 0;
    laser.GetPosition(x0, y0, z0, w0);

    // Each frame is taken after the table has settled: the first Draw hands over a frame that
    // may have been exposed during the move and starts a fresh one.
    const int settleMs = std::max(settings.VideoRefresh, 1);
    auto grab = [&]() {
        QImage frame(width, height, format);
        camera.Draw(frame, false);
        clock.sleepMs(settleMs);
        camera.Draw(frame, false);
        return frame;
    };
    auto within = [&](double x, double y) {
        return x >= settings.X_MinPos && x <= settings.X_MaxPos && y >= settings.Y_MinPos && y <= settings.Y_MaxPos;
    };
    QString moveError;
    auto moveTo = [&](QPointF offset) {
        const double x = x0 + offset.x(), y = y0 + offset.y();
        if (!within(x, y)) {
            moveError = tr("The calibration steps would leave the travel limits; move the test piece "
                           "further inside and start again.");
            return false;
        }
        laser.MoveTo(x, y);
        if (!laser.WaitOnMotionComplete()) {
            moveError = tr("The table did not reach its position: %1").arg(laser.lastError());
            return false;
        }
        return true;
    };
    auto goBack = [&]() {
        laser.MoveTo(x0, y0);
        laser.WaitOnMotionComplete();
    };

    const double guessScale = settings.VideoScale > 0 ? settings.VideoScale : 300.0;
    const double probeMm = kProbeShiftPx / guessScale;
    const std::array<QPointF, 2> probes{QPointF(probeMm, 0), QPointF(0, probeMm)};
    constexpr int kRing = 8;
    const int total = 1 + int(probes.size()) + kRing + 1;
    int done = 0;
    auto step = [&]() { return !progress || progress(done++, total); };

    std::vector<CalibrationSample> samples;
    std::vector<QPointF> crossHairs;
    const auto reference = [&]() -> std::optional<QImage> {
        if (!step())
            return std::nullopt;
        return grab();
    }();
    if (!reference)
        return fail(tr("Calibration cancelled."));
    // The mark lies at the table's start position plus its offset: the cross hair is where the
    // picture shows it once that offset is taken back out.
    auto noteMark = [&](const QImage& frame, QPointF tableOffset, const std::optional<CameraCalibration>& fit) {
        if (const auto mark = findTestMark(frame); mark && fit)
            crossHairs.push_back(*mark + frameToPicture
                                 - predictedShift(*fit, tableOffset - options.testMarkOffsetMm));
    };
    auto observe = [&](QPointF offset) -> std::optional<QString> {
        if (!step()) {
            goBack();
            return tr("Calibration cancelled.");
        }
        if (!moveTo(offset)) {
            goBack();
            return moveError;
        }
        const QImage frame = grab();
        double peak = 0;
        const QPointF shift = measureShift(*reference, frame, &peak);
        if (peak < kWeakestPeak) {
            goBack();
            return tr("The picture shows too little detail to follow the table; place a textured test "
                      "piece under the camera.");
        }
        samples.push_back({offset, shift});
        return std::nullopt;
    };

    for (const QPointF& probe : probes)
        if (const auto why = observe(probe))
            return fail(*why);
    const auto rough = fitCameraCalibration(samples);
    if (!rough || rough->scalePxPerMm < 1e-3)
        return goBack(), fail(tr("The picture did not follow the table's steps."));

    // Steps around a ring, sized so that the picture moves by the same number of pixels in
    // every direction whatever the aspect.
    const double radiusPx = options.stepFraction * std::min(width, height);
    std::vector<QPointF> offsets;
    for (int k = 0; k < kRing; ++k) {
        const double a = 2 * std::numbers::pi * k / kRing;
        offsets.push_back(tableMoveFor(*rough, QPointF(radiusPx * std::cos(a), radiusPx * std::sin(a))));
    }
    for (const QPointF& offset : offsets)
        if (const auto why = observe(offset))
            return fail(*why);

    if (!step())
        return goBack(), fail(tr("Calibration cancelled."));
    if (!moveTo({0, 0}))
        return fail(moveError);
    const QImage back = grab();
    double peak = 0;
    samples.push_back({{0, 0}, measureShift(*reference, back, &peak)});

    auto fit = fitCameraCalibration(samples);
    if (!fit)
        return fail(tr("The picture did not follow the table's steps."));
    noteMark(*reference, {0, 0}, fit);
    noteMark(back, {0, 0}, fit);
    if (!crossHairs.empty()) {
        QPointF sum;
        for (const QPointF& p : crossHairs)
            sum += p;
        fit->crossHairPx = sum / double(crossHairs.size());
    }
    fit->machineSeconds = double(clock.nowUs() - startUs) / 1e6;
    outcome.calibration = fit;
    return outcome;
}

QStringList calibrationReport(const CameraCalibration& c)
{
    QStringList lines;
    lines << tr("Image scale: %1 pixels/mm (VideoScale %2)").arg(c.scalePxPerMm, 0, 'f', 2).arg(c.videoScale());
    lines << tr("Aspect: %1 % (VideoAspect %2)").arg(c.aspectPercent, 0, 'f', 2).arg(c.videoAspect());
    lines << tr("Rotation: %1 degrees").arg(c.rotationDeg, 0, 'f', 3);
    if (c.crossHairPx)
        lines << tr("Cross hair: %1, %2 (CrossHairX %3, CrossHairY %4)")
                     .arg(c.crossHairPx->x(), 0, 'f', 1)
                     .arg(c.crossHairPx->y(), 0, 'f', 1)
                     .arg(std::lround(c.crossHairPx->x()))
                     .arg(std::lround(c.crossHairPx->y()));
    else
        lines << tr("Cross hair: no test mark found; the cross hair is left as it is");
    lines << tr("Residual: %1 um over %2 frames, %3 s").arg(c.residualUm, 0, 'f', 2).arg(c.frames).arg(c.machineSeconds, 0, 'f', 2);
    if (c.rotationWarning())
        lines << tr("Warning: the camera is turned by %1 degrees against the table; no setting corrects this, "
                    "turn the camera.")
                     .arg(c.rotationDeg, 0, 'f', 2);
    return lines;
}

std::optional<QString> calibrationStoreError(const CameraCalibration& c)
{
    if (c.videoScale() < kVideoScaleRange[0] || c.videoScale() > kVideoScaleRange[1])
        return tr("The image scale %1 lies outside %2 to %3 pixels/mm and is not stored.")
            .arg(c.videoScale()).arg(kVideoScaleRange[0]).arg(kVideoScaleRange[1]);
    if (c.videoAspect() < kVideoAspectRange[0] || c.videoAspect() > kVideoAspectRange[1])
        return tr("The aspect %1 % lies outside %2 to %3 % and is not stored.")
            .arg(c.videoAspect()).arg(kVideoAspectRange[0]).arg(kVideoAspectRange[1]);
    if (c.crossHairPx) {
        const long x = std::lround(c.crossHairPx->x()), y = std::lround(c.crossHairPx->y());
        if (x < 0 || x > kCrossHairMax[0] || y < 0 || y > kCrossHairMax[1])
            return tr("The cross hair %1, %2 lies outside 0 to %3 and 0 to %4 pixels and is not stored.")
                .arg(x).arg(y).arg(kCrossHairMax[0]).arg(kCrossHairMax[1]);
    }
    return std::nullopt;
}

bool StoreCameraCalibration(const CameraCalibration& c, TSettings& record, SettingsStore& store)
{
    if (calibrationStoreError(c))
        return false;
    record.VideoScale = c.videoScale();
    record.VideoAspect = c.videoAspect();
    const QString video = QStringLiteral("Video");
    std::vector<SettingsEntry> entries{
        {video, QStringLiteral("VideoScale"), QString::number(record.VideoScale)},
        {video, QStringLiteral("VideoAspect"), QString::number(record.VideoAspect)},
    };
    if (c.crossHairPx) {
        record.CrossHairX = int(std::lround(c.crossHairPx->x()));
        record.CrossHairY = int(std::lround(c.crossHairPx->y()));
        entries.push_back({video, QStringLiteral("CrossHairX"), QString::number(record.CrossHairX)});
        entries.push_back({video, QStringLiteral("CrossHairY"), QString::number(record.CrossHairY)});
    }
    store.setValues(entries);
    return true;
}

bool CalibrateCameraAndOfferToStore(TLaser& laser, TuEye& camera, TSettings& record, SettingsStore& store, Clock& clock,
                                    OperatorDialogs& dialogs)
{
    CalibrationOutcome outcome;
    {
        const auto wait = dialogs.beginWait(tr("Camera calibration"), tr("The table moves in small steps under the camera."),
                                            tr("Keep the test mark under the laser."));
        outcome = CalibrateCamera(laser, camera, record, clock, {}, [&wait](int done, int total) {
            wait->setProgress(done, total);
            return !wait->abortRequested();
        });
    }
    if (!outcome.calibration) {
        dialogs.error(outcome.error);
        return false;
    }
    const QString report = calibrationReport(*outcome.calibration).join(QLatin1Char('\n')) + QStringLiteral("\n\n");
    if (const auto why = calibrationStoreError(*outcome.calibration)) {
        dialogs.message(DialogKind::Warning, tr("Camera calibration"), report + *why, {});
        return false;
    }
    if (dialogs.confirmation(report + tr("Store these values in the settings?"),
                             {{DialogResult::Yes, {}, false}, {DialogResult::No, {}, true}})
        != DialogResult::Yes)
        return false;
    return StoreCameraCalibration(*outcome.calibration, record, store);
}

} // namespace lapido
