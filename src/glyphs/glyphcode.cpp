// TGlyphCode: encoding through libdmtx and libqrencode, the pulse plan of the modules, painting
// and marking in pulse mode.
#include "glyphs/glyphcode.h"

#include "glyphs/legibility.h"
#include "glyphs/pulsedots.h"
#include "machine/laser.h"
#include "machine/lasersource.h"
#include "platform/debuglog.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"

#include <QPainter>
#include <QPolygonF>

#include <dmtx.h>
#include <qrencode.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>

namespace lapido {

namespace {

// More pulses than this would keep the machine busy for hours; a label asking for them is a mistake.
constexpr std::size_t kMaxCodePulses = 2'000'000;

struct DmtxEncodeDeleter {
    void operator()(DmtxEncode* e) const { dmtxEncodeDestroy(&e); }
};
struct QrCodeDeleter {
    void operator()(QRcode* q) const { QRcode_free(q); }
};

CodeEncoding encodeDataMatrix(const QByteArray& utf8, bool rectangular)
{
    std::unique_ptr<DmtxEncode, DmtxEncodeDeleter> enc(dmtxEncodeCreate());
    if (!enc)
        return {std::nullopt, QStringLiteral("the Data Matrix encoder could not start")};
    dmtxEncodeSetProp(enc.get(), DmtxPropSizeRequest, rectangular ? DmtxSymbolRectAuto : DmtxSymbolSquareAuto);
    // The encoder also draws a picture of the symbol; the smallest keeps that cheap.
    dmtxEncodeSetProp(enc.get(), DmtxPropModuleSize, 1);
    dmtxEncodeSetProp(enc.get(), DmtxPropMarginSize, 0);
    QByteArray data = utf8;
    if (dmtxEncodeDataMatrix(enc.get(), int(data.size()), reinterpret_cast<unsigned char*>(data.data())) != DmtxPass) {
        if (rectangular)
            return {std::nullopt, QStringLiteral("the content does not fit the largest rectangular Data Matrix")};
        return {std::nullopt, QStringLiteral("the content does not fit the largest Data Matrix")};
    }
    const int sizeIdx = enc->region.sizeIdx;
    CodeMatrix m;
    m.rows = dmtxGetSymbolAttribute(DmtxSymAttribSymbolRows, sizeIdx);
    m.cols = dmtxGetSymbolAttribute(DmtxSymAttribSymbolCols, sizeIdx);
    m.dark.assign(std::size_t(m.rows) * std::size_t(m.cols), 0);
    // The encoder counts rows from the bottom (its solid finder edge is row 0).
    for (int r = 0; r < m.rows; ++r)
        for (int c = 0; c < m.cols; ++c)
            if (dmtxSymbolModuleStatus(enc->message, sizeIdx, r, c) & DmtxModuleOnRGB)
                m.dark[std::size_t(m.rows - 1 - r) * std::size_t(m.cols) + std::size_t(c)] = 1;
    return {std::move(m), {}};
}

CodeEncoding encodeQr(const QByteArray& utf8)
{
    std::unique_ptr<QRcode, QrCodeDeleter> qr(QRcode_encodeString(utf8.constData(), 0, QR_ECLEVEL_M, QR_MODE_8, 1));
    if (!qr)
        return {std::nullopt, QStringLiteral("the content does not fit the largest QR code")};
    CodeMatrix m;
    m.rows = m.cols = qr->width;
    m.dark.resize(std::size_t(m.rows) * std::size_t(m.cols));
    for (std::size_t i = 0; i < m.dark.size(); ++i)
        m.dark[i] = qr->data[i] & 1;
    return {std::move(m), {}};
}

} // namespace

QString symbologyName(TCodeSymbology symbology)
{
    switch (symbology) {
    case TCodeSymbology::DataMatrix:
        return QStringLiteral("DataMatrix");
    case TCodeSymbology::DataMatrixRect:
        return QStringLiteral("DataMatrixRect");
    case TCodeSymbology::QR:
        return QStringLiteral("QR");
    }
    return {};
}

std::optional<TCodeSymbology> symbologyFromName(const QString& name)
{
    for (TCodeSymbology s : {TCodeSymbology::DataMatrix, TCodeSymbology::DataMatrixRect, TCodeSymbology::QR})
        if (symbologyName(s) == name)
            return s;
    return std::nullopt;
}

QString moduleMarkingName(TCodeModuleMarking marking)
{
    return marking == TCodeModuleMarking::PulseSquare ? QStringLiteral("PulseSquare") : QStringLiteral("OnePulse");
}

std::optional<TCodeModuleMarking> moduleMarkingFromName(const QString& name)
{
    for (TCodeModuleMarking m : {TCodeModuleMarking::OnePulse, TCodeModuleMarking::PulseSquare})
        if (moduleMarkingName(m) == name)
            return m;
    return std::nullopt;
}

int CodeMatrix::darkCount() const
{
    return int(std::count(dark.begin(), dark.end(), std::uint8_t(1)));
}

CodeEncoding encodeCode(TCodeSymbology symbology, const QString& content)
{
    if (content.isEmpty())
        return {std::nullopt, QStringLiteral("it has no content")};
    if (content.size() > codelimits::kMaxContentChars)
        return {std::nullopt, QStringLiteral("its content is longer than %1 characters").arg(codelimits::kMaxContentChars)};
    // Both encoders take C strings or byte runs; a NUL would end the content early.
    if (content.contains(QChar(0)))
        return {std::nullopt, QStringLiteral("its content holds a NUL character")};
    const QByteArray utf8 = content.toUtf8();
    switch (symbology) {
    case TCodeSymbology::DataMatrix:
        return encodeDataMatrix(utf8, false);
    case TCodeSymbology::DataMatrixRect: {
        CodeEncoding rect = encodeDataMatrix(utf8, true);
        return rect.matrix ? rect : encodeDataMatrix(utf8, false);
    }
    case TCodeSymbology::QR:
        return encodeQr(utf8);
    }
    return {std::nullopt, QStringLiteral("its kind of code is unknown")};
}

std::vector<std::pair<double, double>> modulePulseOffsetsUm(const CodeLayout& layout)
{
    if (layout.marking == TCodeModuleMarking::OnePulse || !(layout.pulseDistanceUm > 0)
        || !(layout.moduleUm > layout.spotUm))
        return {{0.0, 0.0}};
    // Pulses whose spots stay inside the module: centres at most (module - spot) / 2 from its centre.
    const int n = int(std::floor((layout.moduleUm - layout.spotUm) / layout.pulseDistanceUm + 1e-9)) + 1;
    const double start = -(n - 1) * layout.pulseDistanceUm / 2;
    std::vector<std::pair<double, double>> offsets;
    offsets.reserve(std::size_t(n) * std::size_t(n));
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i)
            offsets.emplace_back(start + i * layout.pulseDistanceUm, start + j * layout.pulseDistanceUm);
    return offsets;
}

std::vector<CodeDotRow> planCodeDots(const CodeMatrix& matrix, const CodeLayout& layout)
{
    const auto offsets = modulePulseOffsetsUm(layout);
    // Offsets come row by row, each row left to right: the distinct row offsets in order.
    std::vector<double> rowOffsets, colOffsets;
    for (const auto& [dx, dy] : offsets) {
        if (rowOffsets.empty() || rowOffsets.back() != dy)
            rowOffsets.push_back(dy);
        if (dy == offsets.front().second)
            colOffsets.push_back(dx);
    }
    std::vector<CodeDotRow> rows;
    const double m = layout.moduleUm;
    const double q = layout.quietModules;
    for (int r = 0; r < matrix.rows; ++r) {
        const double centreY = (q + r + 0.5) * m;
        for (double dy : rowOffsets) {
            CodeDotRow row;
            row.yUm = centreY + dy;
            for (int c = 0; c < matrix.cols; ++c) {
                if (!matrix.at(r, c))
                    continue;
                const double centreX = (q + c + 0.5) * m;
                for (double dx : colOffsets)
                    row.xUm.push_back(centreX + dx);
            }
            if (!row.xUm.empty())
                rows.push_back(std::move(row));
        }
    }
    return rows;
}

// --- TGlyphCode -----------------------------------------------------------------------------

TGlyphCode::TGlyphCode(TLabelTree* ATreeView, TTreeNode* ATreeNode, const QString& AContent, TCodeSymbology ASymbology,
                       double AModuleUm, int AQuietModules, TCodeModuleMarking AMarking, double AOffset)
    : TGlyph(ATreeView, ATreeNode)
{
    UpDate(AContent, ASymbology, AModuleUm, AQuietModules, AMarking, AOffset);
}

void TGlyphCode::UpDate(const QString& AContent, TCodeSymbology ASymbology, double AModuleUm, int AQuietModules,
                        TCodeModuleMarking AMarking, double AOffset)
{
    if (AContent != Content || ASymbology != Symbology || !Matrix) {
        CodeEncoding e = encodeCode(ASymbology, AContent);
        Matrix = std::move(e.matrix);
        EncodeError = e.error;
    }
    Content = AContent;
    Symbology = ASymbology;
    ModuleUm = AModuleUm;
    QuietModules = AQuietModules;
    ModuleMarking = AMarking;
    Offset = AOffset;
    Spacing = 0;
    syncSize();
    setCaption(QStringLiteral("Code \"") + Content + QStringLiteral("\""));
    touch();
}

int TGlyphCode::rowsWithQuietZone() const
{
    return (Matrix ? Matrix->rows : 0) + 2 * std::max(0, QuietModules);
}

int TGlyphCode::colsWithQuietZone() const
{
    return (Matrix ? Matrix->cols : 0) + 2 * std::max(0, QuietModules);
}

double TGlyphCode::heightMm() const
{
    return rowsWithQuietZone() * ModuleUm / 1000.0;
}

double TGlyphCode::widthMm() const
{
    return colsWithQuietZone() * ModuleUm / 1000.0;
}

double TGlyphCode::heightUnits() const
{
    const double g = GirdleHeight();
    const double h = g > 0 ? heightMm() / g : 0.0;
    return std::isfinite(h) && h > 0 ? h : 0.0;
}

double TGlyphCode::Width() const
{
    const double g = GirdleHeight();
    const double w = g > 0 ? widthMm() / g : 0.0;
    return std::isfinite(w) && w > 0 ? w : 0.0;
}

void TGlyphCode::syncSize()
{
    // The common frame and layout read RelativeSize and UnitWidth; they follow the girdle.
    RelativeSize = heightUnits();
    UnitWidth = rowsWithQuietZone() > 0 ? double(colsWithQuietZone()) / rowsWithQuietZone() : 0.0;
}

double TGlyphCode::top(double y) const
{
    const double rs = heightUnits();
    return rs * Offset + rs / 2 + y;
}

CodeLayout TGlyphCode::layout() const
{
    const TSettings& s = Settings();
    CodeLayout l;
    l.moduleUm = ModuleUm;
    l.quietModules = QuietModules;
    l.marking = ModuleMarking;
    l.spotUm = s.SpotDiameter;
    l.pulseDistanceUm = s.PulseDistance;
    return l;
}

TCoord TGlyphCode::moduleCentre(const TCoord& position, int row, int col) const
{
    const double toUnits = 1.0 / (1000.0 * GirdleHeight());
    const double x = (QuietModules + col + 0.5) * ModuleUm * toUnits;
    const double y = (QuietModules + row + 0.5) * ModuleUm * toUnits;
    return Coord(position.X + x, top(position.Y) - y);
}

void TGlyphCode::Increment()
{
    UpDate(IncrementSerial(Content), Symbology, ModuleUm, QuietModules, ModuleMarking, Offset);
}

QString TGlyphCode::MarkingProblem() const
{
    if (!Matrix)
        return EncodeError.isEmpty() ? QStringLiteral("it has no code") : EncodeError;
    if (!(std::isfinite(ModuleUm) && ModuleUm >= codelimits::kMinModuleUm && ModuleUm <= codelimits::kMaxModuleUm))
        return QStringLiteral("its module of %1 um is outside %2 to %3 um")
            .arg(ModuleUm)
            .arg(codelimits::kMinModuleUm)
            .arg(codelimits::kMaxModuleUm);
    if (QuietModules < 0 || QuietModules > codelimits::kMaxQuietModules)
        return QStringLiteral("its quiet zone of %1 modules is outside 0 to %2").arg(QuietModules).arg(codelimits::kMaxQuietModules);
    if (QString problem = heightProblem(heightUnits()); !problem.isEmpty())
        return problem;
    const CodeLayout l = layout();
    // Narrower modules let the spots of neighbouring modules run into each other: light modules
    // between dark ones vanish and the code no longer reads.
    if (ModuleUm < l.minModuleUm())
        return QStringLiteral("its modules of %1 um are narrower than the %2 um the laser keeps apart (spot %3 um plus one pulse distance %4 um)")
            .arg(ModuleUm, 0, 'g', 4)
            .arg(l.minModuleUm(), 0, 'g', 4)
            .arg(l.spotUm, 0, 'g', 4)
            .arg(l.pulseDistanceUm, 0, 'g', 4);
    const std::size_t pulses = modulePulseOffsetsUm(l).size() * std::size_t(Matrix->darkCount());
    if (pulses > kMaxCodePulses)
        return QStringLiteral("its modules would take %1 pulses; at most %2 can be marked").arg(pulses).arg(kMaxCodePulses);
    return {};
}

void TGlyphCode::DrawFrame(QPainter& Canvas, const TXYTransform& XYTF)
{
    syncSize();
    TGlyph::DrawFrame(Canvas, XYTF);
}

void TGlyphCode::Paint(QPainter& Canvas, const TXYTransform& XYTF)
{
    syncSize();
    const QPen remembered = applyStatePen(Canvas);
    const TCoord P = PaintPosition();
    if (Matrix) {
        const QBrush brushBefore = Canvas.brush();
        Canvas.setBrush(Canvas.pen().color());
        const QPen pen = Canvas.pen();
        Canvas.setPen(Qt::NoPen);
        const double u = ModuleUm / (1000.0 * GirdleHeight());
        const double t = top(P.Y);
        const auto at = [&](double x, double y) {
            const TCoord c = XYTF.TransFormCoord(Coord(x, y));
            return QPointF(c.X, c.Y);
        };
        for (int r = 0; r < Matrix->rows; ++r)
            for (int c = 0; c < Matrix->cols; ++c) {
                if (!Matrix->at(r, c))
                    continue;
                const double x0 = P.X + (QuietModules + c) * u;
                const double y0 = t - (QuietModules + r) * u;
                const QPointF quad[4] = {at(x0, y0), at(x0 + u, y0), at(x0 + u, y0 - u), at(x0, y0 - u)};
                Canvas.drawPolygon(quad, 4);
            }
        Canvas.setPen(pen);
        Canvas.setBrush(brushBefore);
    }
    Canvas.setPen(remembered);
    DrawFrame(Canvas, XYTF);
    PaintPosition().X += Width();
}

void TGlyphCode::ExtendMarkingRect(const TXYTransform& XYTF, TCoord& MinValues, TCoord& MaxValues)
{
    TCoord& M = MarkPosition();
    const double left = M.X;
    const double right = M.X + Width();
    const double t = top(M.Y);
    const double bottom = t - heightUnits();
    M.X = right;
    for (const TCoord& corner : {Coord(left, t), Coord(right, t), Coord(left, bottom), Coord(right, bottom)}) {
        const TCoord p = XYTF.TransFormCoord(corner);
        MinValues.X = std::min(MinValues.X, p.X);
        MinValues.Y = std::min(MinValues.Y, p.Y);
        MaxValues.X = std::max(MaxValues.X, p.X);
        MaxValues.Y = std::max(MaxValues.Y, p.Y);
    }
}

double TGlyphCode::pulseSpanUm() const
{
    double span = 0;
    for (const auto& [x, y] : modulePulseOffsetsUm(layout()))
        span = std::max({span, std::abs(x), std::abs(y)});
    return span;
}

void TGlyphCode::Mark(const TXYTransform& XYTF)
{
    if (MarkingAborted())
        return;
    if (Matrix && GirdleHeight() > 0) {
        const TCoord M = MarkPosition();
        const auto at = [&](int r, int c) { return XYTF.TransFormCoord(moduleCentre(M, r, c)); };
        const TCoord o = at(0, 0), right = at(0, 1), below = at(1, 0);
        Placed = {o, Coord(right.X - o.X, right.Y - o.Y), Coord(below.X - o.X, below.Y - o.Y), true};
    }
    TLaser* laser = Laser();
    if (!Processed && !laser) {
        LogDebug("TGlyphCode - no machine to mark with");
    } else if (!Processed && !Matrix) {
        LogDebug(QStringLiteral("TGlyphCode - not marked: ") + EncodeError);
    } else if (!Processed) {
        syncSize();
        const TCoord M = MarkPosition();
        const double toUnits = 1.0 / (1000.0 * GirdleHeight());
        const double t = top(M.Y);
        const std::vector<CodeDotRow> rows = planCodeDots(*Matrix, layout());
        const auto dotPoint = [&](double xUm, double yUm) {
            return XYTF.TransFormCoord(Coord(M.X + xUm * toUnits, t - yUm * toUnits));
        };

        TLaserSource* source = laserSource();
        if (source && !laser->sequenceFaulted())
            source->EmissionOn();
        if (laser->EnableOn()) {
            laser->DMCCmd("DPW=0");
            if (!source || source->DoesPulseTrain()) {
                // Run-up and run-out along the row, so that every pulse of a row is fired at the
                // photo speed (µm here, as the rows are planned).
                const double v = laser->VectorPhotoSpeed;
                const double accel = std::min(laser->X_Accel, laser->Y_Accel);
                const double decel = std::min(laser->X_Decel, laser->Y_Decel);
                // At least a module each: a run-up shorter than one count would put the start on
                // the first pulse's count, and a pulse where the table already stands is not fired.
                const double a = std::max(ModuleUm, accel > 0 ? v * v * 0.5 / accel * 1000.0 : 0.0);
                const double b = std::max(ModuleUm, decel > 0 ? v * v * 0.5 / decel * 1000.0 : 0.0);
                for (std::size_t j = 0; j < rows.size(); ++j) {
                    const CodeDotRow& row = rows[j];
                    // Rows go back and forth, so the table never runs back empty.
                    const bool rightToLeft = j % 2 == 1;
                    const double first = rightToLeft ? row.xUm.back() : row.xUm.front();
                    const double last = rightToLeft ? row.xUm.front() : row.xUm.back();
                    std::vector<TCoord> dots;
                    dots.reserve(row.xUm.size());
                    for (std::size_t k = 0; k < row.xUm.size(); ++k)
                        dots.push_back(dotPoint(rightToLeft ? row.xUm[row.xUm.size() - 1 - k] : row.xUm[k], row.yUm));
                    if (!markPulseRow(*laser, dotPoint(first + (rightToLeft ? a : -a), row.yUm), dots,
                                      dotPoint(last + (rightToLeft ? -b : b), row.yUm)))
                        break;
                }
            } else {
                const std::string command = timedGatePulseCommand(*laser);
                bool aborted = false;
                for (std::size_t j = 0; j < rows.size() && !aborted; ++j)
                    for (double x : rows[j].xUm)
                        if (!fireTimedPulseAt(*laser, dotPoint(x, rows[j].yUm), command)) {
                            aborted = true;
                            break;
                        }
            }
            laser->CloseGate();
            laser->EnableOff();
            // A run cut short leaves the code incomplete: it is not counted as marked.
            Processed = !MarkingAborted() && !laser->sequenceFaulted();
            touch();
        } else if (laser->WaitAborted) {
            MarkingAborted() = true;
        }
        // Emission goes off on every path, a refused enable line included.
        if (source)
            source->EmissionOff();
    }
    MarkPosition().X += Width();
}

} // namespace lapido
