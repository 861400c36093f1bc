// Outline glyphs: drawing, measuring, speed planning and vector marking; the outline file.
#include "glyphs/glyphoutline.h"

#include "glyphs/fontoutlines.h"
#include "machine/laser.h"
#include "platform/debuglog.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"
#include "platform/savefile.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace lapido {

namespace {

constexpr char kOutlineHeader[] = "KMT Outline V01";
constexpr int kHeaderCompareLength = 11; // "KMT Outline": the version suffix is not checked
// An outline file is a few kilobytes; refuse absurd ones before reading them into memory.
constexpr qint64 kMaxOutlineFileBytes = 256LL * 1024 * 1024;

QString fixed3(double v)
{
    QString s = QString::number(v, 'f', 3);
    s.replace(QChar('.'), decimalSeparator());
    return s;
}

void appendDouble(QByteArray& out, double v)
{
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    bits = qToLittleEndian(bits);
    out.append(reinterpret_cast<const char*>(&bits), sizeof bits);
}

double readDouble(const char* p)
{
    std::uint64_t bits;
    std::memcpy(&bits, p, sizeof bits);
    bits = qFromLittleEndian(bits);
    double v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

} // namespace

TDebugMemo& ClipboardMemo()
{
    static TDebugMemo memo;
    return memo;
}

TPlanningLimits TPlanningLimits::fromSettings()
{
    const TSettings& s = Settings();
    TPlanningLimits l;
    l.Vmax = s.MarkingSpeed;
    l.Vmin = std::min(s.CornerSpeed, l.Vmax);
    l.Alin = s.LinearDecel;
    l.Arad = s.RadialAccel;
    return l;
}

void PlanContourSpeeds(std::vector<TPlanningRecord>& rec, const TPlanningLimits& lim)
{
    const int r = static_cast<int>(rec.size());
    if (r == 0)
        return;
    for (int i = 0; i <= r - 2; ++i) {
        auto& p = rec[static_cast<size_t>(i)];
        const auto& n = rec[static_cast<size_t>(i + 1)];
        p.DX = n.X - p.X;
        p.DY = n.Y - p.Y;
        p.L = std::sqrt(p.DX * p.DX + p.DY * p.DY);
        if (p.L <= 0.0001) {
            p.UX = 1;
            p.UY = 0;
        } else {
            p.UX = p.DX / p.L;
            p.UY = p.DY / p.L;
        }
    }
    rec.back().Vd = lim.Vmin;
    rec.back().V = lim.Vmin;
    for (int i = 1; i <= r - 2; ++i) {
        auto& p = rec[static_cast<size_t>(i)];
        const auto& prev = rec[static_cast<size_t>(i - 1)];
        p.Cos = std::clamp(p.UX * prev.UX + p.UY * prev.UY, -0.999, 0.999);
        p.Angle = std::acos(p.Cos);
        p.K = p.L <= 0.0001 ? 0 : p.Angle / p.L;
        p.Vc = lim.Vmax * p.Cos;
        p.Vr = p.K > lim.Arad / (lim.Vmax * lim.Vmax) ? std::sqrt(lim.Arad / p.K) : lim.Vmax;
    }
    for (int i = r - 2; i >= 1; --i) {
        auto& p = rec[static_cast<size_t>(i)];
        const double vNext = rec[static_cast<size_t>(i + 1)].V;
        p.Vd = std::sqrt(vNext * vNext + 2 * lim.Alin * p.L);
        double v = std::min({p.Vd, p.Vr, p.Vc});
        v = std::min(v, lim.Vmax);
        p.V = std::max(v, lim.Vmin);
    }
}

// --- TGlyphOutLine ------------------------------------------------------------------------

TGlyphOutLine::TGlyphOutLine(TLabelTree* ATreeView, TTreeNode* ATreeNode)
    : TGlyph(ATreeView, ATreeNode), ContourList(std::make_shared<TContourList>())
{
}

TGlyphOutLine::~TGlyphOutLine() = default;

void TGlyphOutLine::TrimZeroLengthSegments()
{
    for (int c = 0; c < ContourList->Count(); ++c) {
        TContour& contour = ContourList->GetContour(c);
        if (contour.Count() == 0)
            continue;
        // One pass: deleting points one at a time moves the rest of the contour each time.
        TVertex ref = contour[0];
        bool first = true;
        contour.EraseIf([&](const TVertex& v) {
            if (first) {
                first = false;
                return false;
            }
            if (std::abs(v.X - ref.X) < 0.00001 && std::abs(v.Y - ref.Y) < 0.00001)
                return true;
            ref = v;
            return false;
        });
    }
}

void TGlyphOutLine::ResetMarking()
{
    Processed = false;
    ContourListIndex = 0;
    touch();
}

void TGlyphOutLine::Paint(QPainter& Canvas, const TXYTransform& XYTF)
{
    const QPen remembered = applyStatePen(Canvas);
    const TCoord P = PaintPosition();
    std::vector<QPoint> pts;
    for (int c = 0; c < ContourList->Count(); ++c) {
        const TContour& contour = ContourList->GetContour(c);
        pts.clear();
        pts.reserve(static_cast<size_t>(contour.Count()));
        for (const TVertex& v : contour)
            pts.push_back(CoordToPoint(XYTF.TransFormCoord(vertexPosition(v, P))));
        if (pts.size() >= 2)
            Canvas.drawPolyline(pts.data(), static_cast<int>(pts.size()));
    }
    Canvas.setPen(remembered);
    PaintPosition().X += (UnitWidth + Spacing) * RelativeSize;
}

void TGlyphOutLine::ExtendMarkingRect(const TXYTransform& XYTF, TCoord& MinValues, TCoord& MaxValues)
{
    const TCoord P = MarkPosition();
    for (int c = 0; c < ContourList->Count(); ++c)
        for (const TVertex& v : ContourList->GetContour(c)) {
            const TCoord t = XYTF.TransFormCoord(vertexPosition(v, P));
            MinValues.X = std::min(MinValues.X, t.X);
            MinValues.Y = std::min(MinValues.Y, t.Y);
            MaxValues.X = std::max(MaxValues.X, t.X);
            MaxValues.Y = std::max(MaxValues.Y, t.Y);
        }
    MarkPosition().X += (UnitWidth + Spacing) * RelativeSize;
}

void TGlyphOutLine::Mark(const TXYTransform& XYTF)
{
    if (MarkingAborted())
        return;
    TLaser* laser = Laser();
    if (!Processed && laser) {
        const TPlanningLimits limits = TPlanningLimits::fromSettings();
        const double D = Settings().MinSegmentLength * 0.001;
        // A wait the machine's guard ended has put the machine in its safe state; the glyph
        // stops there, so no later contour opens a sequence again.
        bool machineStopped = !laser->WaitOnMotionComplete();
        if (DebugMode())
            ClipboardMemo().Clear();
        const TCoord P = MarkPosition();
        std::vector<TPlanningRecord> rec;
        for (int c = 0; c < ContourList->Count() && !machineStopped; ++c) {
            const TContour& contour = ContourList->GetContour(c);
            const int n = contour.Count();
            if (n == 0)
                continue;
            // Thin out: first and last always, others only a minimum segment away.
            rec.clear();
            rec.reserve(static_cast<size_t>(n));
            for (int i = 0; i < n; ++i) {
                const TCoord t = XYTF.TransFormCoord(vertexPosition(contour[i], P));
                if (i == 0 || i == n - 1) {
                    rec.push_back({t.X, t.Y});
                    continue;
                }
                const double dx = t.X - rec.back().X;
                const double dy = t.Y - rec.back().Y;
                if (dx * dx + dy * dy >= D * D)
                    rec.push_back({t.X, t.Y});
            }
            const TPlanningRecord& first = rec.front();
            LogDebug(QStringLiteral("TGlyphOutline - Moving to X = ") + FloatToStr(first.X) + QStringLiteral(" Y = ")
                     + FloatToStr(first.Y));
            laser->MoveTo(first.X, first.Y);
            if (DebugMode())
                ClipboardMemo().Add(fixed3(first.X) + QStringLiteral(",") + fixed3(first.Y)
                                    + QStringLiteral(" Start Contour"));
            PlanContourSpeeds(rec, limits);
            if (!laser->WaitOnMotionComplete())
                break;
            if (!MarkingAborted()) {
                laser->StartLIXYMode();
                for (size_t i = 1; i < rec.size(); ++i) {
                    if (MarkingAborted()) {
                        laser->StopLIXYMode();
                        break;
                    }
                    const TPlanningRecord& p = rec[i];
                    laser->AddLIXYVertex(p.X, p.Y, p.V);
                    if (DebugMode())
                        ClipboardMemo().Add(fixed3(p.X) + "," + fixed3(p.Y) + ",Vd=" + fixed3(p.Vd) + ",Vr="
                                            + fixed3(p.Vr) + ",Vc=" + fixed3(p.Vc) + ",v=" + fixed3(p.V));
                }
                laser->FinishLIXYMode();
                machineStopped = laser->sequenceFaulted();
            }
            rec.clear();
            if (MarkingAborted())
                break;
        }
        Processed = true;
    } else if (!laser) {
        LogDebug("TGlyphOutline - no machine to mark with");
    } else {
        Processed = true;
    }
    touch();
    MarkPosition().X += Width();
}

bool TGlyphOutLine::SaveToFile(const QString& FileName, QString* error) const
{
    QByteArray out;
    out.append(static_cast<char>(15));
    out.append(kOutlineHeader, 15);
    appendDouble(out, UnitWidth);
    appendDouble(out, ContourList->Count());
    for (int c = 0; c < ContourList->Count(); ++c) {
        const TContour& contour = ContourList->GetContour(c);
        appendDouble(out, contour.Count());
        for (const TVertex& v : contour) {
            appendDouble(out, v.X);
            appendDouble(out, v.Y);
        }
    }
    // Beside the target, flushed and renamed: a full disk leaves the earlier outline intact, and
    // a folder or a device is refused instead of being written into.
    const QString why = writeWholeFile(FileName, QByteArrayView(out));
    if (why.isEmpty())
        return true;
    operatorDialogs().error(why);
    if (error)
        *error = why;
    return false;
}

OutlineFileResult readOutlineFile(const QString& fileName)
{
    OutlineFileResult result;
    QFile f(fileName);
    if (!f.exists()) {
        result.missing = true;
        result.error = QStringLiteral("File \"") + fileName + QStringLiteral("\" does not exist");
        return result;
    }
    if (!f.open(QIODevice::ReadOnly)) {
        result.error = QStringLiteral("Cannot read \"%1\": %2").arg(fileName, f.errorString());
        return result;
    }
    if (f.size() > kMaxOutlineFileBytes) {
        result.error = QStringLiteral("Cannot read \"%1\": the file is larger than an outline can be").arg(fileName);
        return result;
    }
    const QByteArray data = f.readAll();
    if (data.size() < 16 || std::memcmp(data.constData() + 1, kOutlineHeader, kHeaderCompareLength) != 0) {
        result.error = QStringLiteral("Invalid file format");
        return result;
    }
    const char* p = data.constData() + 16;
    const char* end = data.constData() + data.size();
    const QString truncated = QStringLiteral("Cannot read \"%1\": the outline file is truncated or damaged").arg(fileName);
    auto take = [&](double& v) {
        if (end - p < 8)
            return false;
        v = readDouble(p);
        p += 8;
        return true;
    };
    // A count must be a whole number that the rest of the file can actually hold.
    auto takeCount = [&](qint64 recordBytes, qint64& n) {
        double d;
        if (!take(d) || !std::isfinite(d) || d < 0)
            return false;
        // Compared before the conversion: a count beyond the 64-bit range has no integer value.
        const double whole = std::round(d);
        if (whole > static_cast<double>((end - p) / recordBytes))
            return false;
        n = static_cast<qint64>(whole);
        return true;
    };
    OutlineFileContent content;
    double width;
    qint64 contours;
    if (!take(width) || !takeCount(8, contours)) {
        result.error = truncated;
        return result;
    }
    content.UnitWidth = width;
    for (qint64 c = 0; c < contours; ++c) {
        qint64 n;
        if (!takeCount(16, n)) {
            result.error = truncated;
            return result;
        }
        // The count is known and the file holds it: room for exactly that, none for an empty
        // contour.
        auto contour = std::make_unique<TContour>(std::size_t(n));
        for (qint64 i = 0; i < n; ++i) {
            double x = 0, y = 0; // the count check above guarantees both are there
            take(x);
            take(y);
            contour->Add(x, y);
        }
        content.Contours.Add(std::move(contour));
    }
    result.content = std::move(content);
    return result;
}

bool TGlyphOutLine::LoadFromFile(const QString& FileName)
{
    if (FileName.isEmpty()) {
        ContourList = std::make_shared<TContourList>();
        return true;
    }
    OutlineFileResult r = readOutlineFile(FileName);
    if (!r.content) {
        operatorDialogs().message(DialogKind::Error, QStringLiteral("Error"), r.error, {});
        return false;
    }
    UnitWidth = r.content->UnitWidth;
    ContourList = std::make_shared<TContourList>(std::move(r.content->Contours));
    touch();
    return true;
}

// --- TGlyphChar ---------------------------------------------------------------------------

TGlyphChar::TGlyphChar(TLabelTree* ATreeView, TTreeNode* ATreeNode, TGlyphWideString* AGlyphWideString,
                       char16_t AUniCode, const CharOutlineSource& font)
    : TGlyphOutLine(ATreeView, ATreeNode), GlyphWideString(AGlyphWideString), UniCode(AUniCode)
{
    if (const CharOutlineSource::Made* made = font.made(AUniCode)) {
        ContourList = made->contours;
        CellIncX = made->cellIncX;
        BlackBoxX = made->blackBoxX;
        OriginX = made->originX;
        UnitWidth = CellIncX;
        return;
    }
    auto outline = font.outline(AUniCode, CellIncX, BlackBoxX, OriginX);
    if (outline) {
        ContourList = std::move(outline);
    } else {
        // A custom font holds only digits: any other character is empty and takes no room.
        ContourList = std::make_shared<TContourList>();
        CellIncX = 0;
    }
    TrimZeroLengthSegments();
    // A character keeps its outline as long as the label lives: a label of thousands of
    // characters must not hold a block of 256 vertices for each short stroke.
    for (int c = 0; c < ContourList->Count(); ++c)
        ContourList->GetContour(c).ShrinkToFit();
    font.remember(AUniCode, {ContourList, CellIncX, BlackBoxX, OriginX});
    UnitWidth = CellIncX;
}

} // namespace lapido
