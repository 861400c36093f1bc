// Drawing objects: construction, bounds, painting, picking, file keys and linearisation.
#include "geometry/cadobjects.h"

#include "geometry/cadonpaintbox.h"
#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "settings/settingsrecord.h"

#include <QPainter>
#include <QPen>

#include <algorithm>
#include <cmath>
#include <initializer_list>
#include <utility>
#include <numbers>
#include <vector>

namespace lapido {

namespace {

constexpr double kPi = std::numbers::pi;
// A drawing file may carry any angle; painting and outlining stop at a bound amount of work
// (a full turn at the finest tolerance is a few thousand steps).
constexpr std::int64_t kMaxArcSteps = 100000;

int arcSteps(double angle, double step)
{
    const std::int64_t n = RoundHalfEven(std::abs(angle) / step);
    return int(std::clamp<std::int64_t>(n, 1, kMaxArcSteps));
}

QPen objectPen(bool selected, bool suppressed)
{
    QPen pen(selected ? QColor(255, 0, 0) : QColor(0, 0, 0));
    pen.setWidth(0);
    pen.setStyle(suppressed ? Qt::DotLine : Qt::SolidLine);
    return pen;
}

void writeFloat(IniFile& ini, const QString& section, const QString& key, double value)
{
    ini.WriteFloat(section, key, value, QChar(u'.'));
}

// Drawings travel between stations: a point or a comma, whichever the file was written with.
// A missing key is 0, as it always was.
double readFloat(const IniFile& ini, const QString& section, const QString& key)
{
    const auto text = ini.value(section, key);
    if (!text)
        return 0;
    if (const auto v = StrToFloat(*text, QChar(u'.')))
        return *v;
    if (const auto v = StrToFloat(*text, QChar(u',')))
        return *v;
    throw DrawingValueError{key, QStringLiteral("\"%1\" is not a number").arg(*text)};
}

QString magnitudeFault(std::initializer_list<std::pair<const char*, double>> values)
{
    for (const auto& [name, v] : values)
        if (!std::isfinite(v) || std::abs(v) > kMaxDrawingMagnitude)
            return QStringLiteral("%1 %2 is out of range").arg(QLatin1String(name)).arg(v);
    return {};
}

} // namespace

TCADObject::TCADObject(TCADOnPaintBox* AOwner) : Owner(AOwner) {}

TCADObject& TCADObject::Create(TCADOnPaintBox& AOwner)
{
    auto object = std::make_unique<TCADObject>(&AOwner);
    TCADObject& ref = *object;
    AOwner.CADObjectList.Add(std::move(object));
    return ref;
}

bool TCADObject::isSelected() const
{
    return Owner && Owner->CADObjectSelected == this;
}

void TCADObject::Paint(QPainter&) const {}

bool TCADObject::MouseMoveCatched(Qt::KeyboardModifiers, int, int)
{
    return false;
}

void TCADObject::MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int, int) {}

void TCADObject::ExtendBoundRect(TCoord&, TCoord&) const {}

void TCADObject::WriteFile(IniFile& ini, const QString& section) const
{
    ini.WriteBool(section, QStringLiteral("Surpressed"), Surpressed);
    ini.WriteBool(section, QStringLiteral("Visible"), Visible);
    ini.WriteString(section, QStringLiteral("LayerName"), LayerName);
    ini.WriteInteger(section, QStringLiteral("PLineID"), PLineID);
}

void TCADObject::ReadFile(const IniFile& ini, const QString& section)
{
    Surpressed = ini.ReadBool(section, QStringLiteral("Surpressed"), false);
    Visible = ini.ReadBool(section, QStringLiteral("Visible"), true);
    LayerName = ini.ReadString(section, QStringLiteral("LayerName"), QStringLiteral("0"));
    const auto id = ini.value(section, QStringLiteral("PLineID"));
    if (!id) {
        PLineID = 0;
        return;
    }
    const auto n = StrToInt(id->trimmed());
    if (!n)
        throw DrawingValueError{QStringLiteral("PLineID"), QStringLiteral("\"%1\" is not a whole number").arg(*id)};
    PLineID = *n;
}

TCADLine::TCADLine(TCADOnPaintBox* AOwner, TCoord AP1, TCoord AP2)
    : TCADObject(AOwner), P1(AP1), P2(AP2)
{
}

TCADLine& TCADLine::Create(TCADOnPaintBox& AOwner, TCoord AP1, TCoord AP2)
{
    auto object = std::make_unique<TCADLine>(&AOwner, AP1, AP2);
    TCADLine& ref = *object;
    AOwner.CADObjectList.Add(std::move(object));
    return ref;
}

void TCADLine::Paint(QPainter& painter) const
{
    if (!Visible || !Owner)
        return;
    painter.setPen(objectPen(isSelected(), Surpressed));
    painter.drawLine(Owner->XYTFW2S.TransFormCoord(P1), Owner->XYTFW2S.TransFormCoord(P2));
}

void TCADLine::MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int Xm, int Ym)
{
    if (!Visible || !Owner)
        return;
    const TPoint p1 = Owner->XYTFW2S.TransFormCoord(P1);
    const TPoint p2 = Owner->XYTFW2S.TransFormCoord(P2);
    const double dx = p2.x() - p1.x();
    const double dy = p2.y() - p1.y();
    double distance;
    if (std::abs(dy) >= std::abs(dx)) {
        if (Ym < std::min(p1.y(), p2.y()) || Ym > std::max(p1.y(), p2.y()))
            return;
        // A line shorter than a pixel on screen is a point: measure to it directly.
        const double xAtY = dy == 0 ? p1.x() : p1.x() + (Ym - p1.y()) * dx / dy;
        distance = std::abs(Xm - xAtY);
    } else {
        if (Xm < std::min(p1.x(), p2.x()) || Xm > std::max(p1.x(), p2.x()))
            return;
        const double yAtX = p1.y() + (Xm - p1.x()) * dy / dx;
        distance = std::abs(Ym - yAtX);
    }
    if (distance <= Owner->SelectDistance) {
        Owner->CADObjectSelected = this;
        Owner->SelectDistance = distance;
    }
}

void TCADLine::GetBoundRect(TCoord& B1, TCoord& B2) const
{
    B1 = TCoord{std::min(P1.X, P2.X), std::min(P1.Y, P2.Y)};
    B2 = TCoord{std::max(P1.X, P2.X), std::max(P1.Y, P2.Y)};
}

void TCADLine::ExtendBoundRect(TCoord& M1, TCoord& M2) const
{
    TCoord b1, b2;
    GetBoundRect(b1, b2);
    M1.X = std::min(M1.X, b1.X);
    M1.Y = std::min(M1.Y, b1.Y);
    M2.X = std::max(M2.X, b2.X);
    M2.Y = std::max(M2.Y, b2.Y);
}

TContour TCADLine::Linearize(bool ReversedDirection) const
{
    TContour c;
    c.Add(ReversedDirection ? P2.X : P1.X, ReversedDirection ? P2.Y : P1.Y);
    c.Add(ReversedDirection ? P1.X : P2.X, ReversedDirection ? P1.Y : P2.Y);
    return c;
}

void TCADLine::WriteFile(IniFile& ini, const QString& section) const
{
    TCADObject::WriteFile(ini, section);
    writeFloat(ini, section, QStringLiteral("BeginX"), P1.X);
    writeFloat(ini, section, QStringLiteral("BeginY"), P1.Y);
    writeFloat(ini, section, QStringLiteral("EndX"), P2.X);
    writeFloat(ini, section, QStringLiteral("EndY"), P2.Y);
}

void TCADLine::ReadFile(const IniFile& ini, const QString& section)
{
    TCADObject::ReadFile(ini, section);
    P1 = TCoord{readFloat(ini, section, QStringLiteral("BeginX")),
                readFloat(ini, section, QStringLiteral("BeginY"))};
    P2 = TCoord{readFloat(ini, section, QStringLiteral("EndX")),
                readFloat(ini, section, QStringLiteral("EndY"))};
}

QString TCADLine::geometryFault() const
{
    return magnitudeFault({{"BeginX", P1.X}, {"BeginY", P1.Y}, {"EndX", P2.X}, {"EndY", P2.Y}});
}

TCADArc::TCADArc(TCADOnPaintBox* AOwner) : TCADLine(AOwner) {}

TCADArc::TCADArc(TCADOnPaintBox* AOwner, TCoord AP1, TCoord AP2, double AA)
    : TCADLine(AOwner, AP1, AP2), A(AA)
{
    // The chord's midpoint moved along the chord's left normal by half the chord times
    // cot(A/2).
    const double s = std::sin(A), c = std::cos(A);
    Pc.X = (P1.X + P2.X - s * (P2.Y - P1.Y) / (1 - c)) / 2;
    Pc.Y = (P1.Y + P2.Y + (1 + c) * (P2.X - P1.X) / s) / 2;
    R = CoordDistance(P1, Pc);
    A1 = std::atan2(P1.Y - Pc.Y, P1.X - Pc.X);
    A2 = A1 + A;
}

TCADArc::TCADArc(TCADOnPaintBox* AOwner, TCoord APc, double AR, double AA1, double AA2)
    : TCADLine(AOwner, TCoord{APc.X + AR * std::cos(AA1), APc.Y + AR * std::sin(AA1)},
               TCoord{APc.X + AR * std::cos(AA2), APc.Y + AR * std::sin(AA2)})
{
    A = AA2 - AA1;
    if (A < 0)
        A += 2 * kPi;
    A1 = AA1 > kPi ? AA1 - 2 * kPi : AA1;
    A2 = A1 + A;
    Pc = APc;
    R = AR;
}

TCADArc& TCADArc::Create(TCADOnPaintBox& AOwner, TCoord AP1, TCoord AP2, double AA)
{
    auto object = std::make_unique<TCADArc>(&AOwner, AP1, AP2, AA);
    TCADArc& ref = *object;
    AOwner.CADObjectList.Add(std::move(object));
    return ref;
}

TCADArc& TCADArc::Create(TCADOnPaintBox& AOwner, TCoord APc, double AR, double AA1, double AA2)
{
    auto object = std::make_unique<TCADArc>(&AOwner, APc, AR, AA1, AA2);
    TCADArc& ref = *object;
    AOwner.CADObjectList.Add(std::move(object));
    return ref;
}

void TCADArc::Paint(QPainter& painter) const
{
    if (!Visible || !Owner)
        return;
    painter.setPen(objectPen(isSelected(), Surpressed));
    const int n = arcSteps(A, kPi / 60); // one chord per 3 degrees
    std::vector<QPoint> points;
    points.reserve(std::size_t(n) + 1);
    points.push_back(Owner->XYTFW2S.TransFormCoord(P1));
    for (int k = 1; k <= n; ++k) {
        const double t = A1 + k * A / n;
        points.push_back(Owner->XYTFW2S.TransFormCoord(
            TCoord{Pc.X + R * std::cos(t), Pc.Y + R * std::sin(t)}));
    }
    painter.drawPolyline(points.data(), int(points.size()));
}

void TCADArc::MouseDown(Qt::MouseButton, Qt::KeyboardModifiers, int Xm, int Ym)
{
    if (!Visible || !Owner)
        return;
    const TPoint centre = Owner->XYTFW2S.TransFormCoord(Pc);
    const double dx = Xm - centre.x();
    const double dy = centre.y() - Ym; // screen Y turned upwards
    const double radiusPx = double(RoundHalfEven(R * Owner->XYTFW2S.S1));
    const double distance = std::abs(std::hypot(dx, dy) - radiusPx);
    const double angle = std::atan2(dy, dx);
    auto within = [this](double a) { return (a - A1) * (a - A2) <= 0; };
    if (!within(angle) && !within(angle + 2 * kPi))
        return;
    if (distance <= Owner->SelectDistance) {
        Owner->CADObjectSelected = this;
        Owner->SelectDistance = distance;
    }
}

void TCADArc::GetBoundRect(TCoord& B1, TCoord& B2) const
{
    TCADLine::GetBoundRect(B1, B2);
    const double angles[] = {-kPi, -kPi / 2, 0, kPi / 2, kPi, 3 * kPi / 2, 2 * kPi, 5 * kPi / 2, 3 * kPi};
    for (int i = 0; i < 9; ++i) {
        const double a = angles[i];
        if ((a - A1) * (a - A2) > 0)
            continue;
        switch (i % 4) {
        case 0: // -pi, pi, 3 pi
            B1.X = Pc.X - R;
            break;
        case 1: // -pi/2, 3 pi/2
            B1.Y = Pc.Y - R;
            break;
        case 2: // 0, 2 pi
            B2.X = Pc.X + R;
            break;
        case 3: // pi/2, 5 pi/2
            B2.Y = Pc.Y + R;
            break;
        }
    }
}

TContour TCADArc::Linearize(bool ReversedDirection) const
{
    const int n = arcSteps(A, Settings().ContourResolution);
    TContour c;
    for (int k = 0; k <= n; ++k) {
        const double t = ReversedDirection ? A2 - k * A / n : A1 + k * A / n;
        c.Add(Pc.X + R * std::cos(t), Pc.Y + R * std::sin(t));
    }
    return c;
}

void TCADArc::WriteFile(IniFile& ini, const QString& section) const
{
    TCADLine::WriteFile(ini, section);
    writeFloat(ini, section, QStringLiteral("CenterX"), Pc.X);
    writeFloat(ini, section, QStringLiteral("CenterY"), Pc.Y);
    writeFloat(ini, section, QStringLiteral("Radius"), R);
    writeFloat(ini, section, QStringLiteral("Angle"), A);
    writeFloat(ini, section, QStringLiteral("BeginAngle"), A1);
    writeFloat(ini, section, QStringLiteral("EndAngle"), A2);
}

QString TCADArc::geometryFault() const
{
    QString fault = TCADLine::geometryFault();
    if (fault.isEmpty())
        fault = magnitudeFault({{"CenterX", Pc.X}, {"CenterY", Pc.Y}, {"Radius", R}, {"Angle", A},
                                {"BeginAngle", A1}, {"EndAngle", A2}});
    if (!fault.isEmpty())
        return fault;
    if (R < 0)
        return QStringLiteral("the radius %1 is negative").arg(R);
    // A full circle is exactly one turn; more would mark the same ring again and again.
    if (std::abs(A) > 2 * kPi * (1 + 1e-12))
        return QStringLiteral("the arc turns by %1 radians, more than a full turn").arg(A);
    return {};
}

void TCADArc::ReadFile(const IniFile& ini, const QString& section)
{
    TCADLine::ReadFile(ini, section);
    Pc = TCoord{readFloat(ini, section, QStringLiteral("CenterX")),
                readFloat(ini, section, QStringLiteral("CenterY"))};
    R = readFloat(ini, section, QStringLiteral("Radius"));
    A = readFloat(ini, section, QStringLiteral("Angle"));
    A1 = readFloat(ini, section, QStringLiteral("BeginAngle"));
    A2 = readFloat(ini, section, QStringLiteral("EndAngle"));
}

} // namespace lapido
