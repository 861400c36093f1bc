// The affine transform chain and the point helpers.
#include "geometry/xytransform.h"

#include "platform/numfmt.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace lapido {

TCoord Coord(double X, double Y)
{
    return TCoord{X, Y};
}

TCoord IntCoord(int X, int Y)
{
    return TCoord{double(X), double(Y)};
}

TCoord PointToCoord(const TPoint& P)
{
    return TCoord{double(P.x()), double(P.y())};
}

namespace {

// A point far off screen (or not a number) must not wrap around into the visible area.
int toPixel(double v)
{
    constexpr std::int64_t kLimit = std::int64_t(1) << 30;
    return int(std::clamp(RoundHalfEven(v), -kLimit, kLimit));
}

} // namespace

TPoint CoordToPoint(const TCoord& C)
{
    return TPoint(toPixel(C.X), toPixel(C.Y));
}

double CoordDistance(const TCoord& P1, const TCoord& P2)
{
    return std::hypot(P2.X - P1.X, P2.Y - P1.Y);
}

TXYTransform::TXYTransform()
{
    Clear();
}

TXYTransform::~TXYTransform() = default;

void TXYTransform::Clear()
{
    setMatrix(1, 0, 0, 1);
    Oin1 = Oin2 = 0;
    Oout1 = Oout2 = 0;
    S1 = S2 = 1;
    m_ownedNext.reset();
    NextTransForm = nullptr;
    NextTransFormOwned = false;
}

void TXYTransform::setMatrix(double a11, double a12, double a21, double a22)
{
    A11 = a11;
    A12 = a12;
    A21 = a21;
    A22 = a22;
    const double det = A11 * A22 - A12 * A21;
    B11 = A22 / det;
    B12 = -A12 / det;
    B21 = -A21 / det;
    B22 = A11 / det;
}

void TXYTransform::SetScale(double ScaleX, double ScaleY)
{
    S1 = ScaleX;
    S2 = ScaleY;
}

void TXYTransform::AddScale(double ScaleX, double ScaleY)
{
    S1 *= ScaleX;
    S2 *= ScaleY;
}

void TXYTransform::SetRotation(double Angle)
{
    const double c = std::cos(Angle), s = std::sin(Angle);
    setMatrix(c, -s, s, c);
}

void TXYTransform::AddRotation(double Angle)
{
    const double c = std::cos(Angle), s = std::sin(Angle);
    // R(Angle) * A: the new turn follows the present one.
    setMatrix(c * A11 - s * A21, c * A12 - s * A22, s * A11 + c * A21, s * A12 + c * A22);
}

void TXYTransform::SetInTranslation(double X, double Y)
{
    Oin1 = X;
    Oin2 = Y;
}

void TXYTransform::AddInTranslation(double X, double Y)
{
    Oin1 += X;
    Oin2 += Y;
}

void TXYTransform::SetOutTranslation(double X, double Y)
{
    Oout1 = X;
    Oout2 = Y;
}

void TXYTransform::AddOutTranslation(double X, double Y)
{
    Oout1 += X;
    Oout2 += Y;
}

TCoord TXYTransform::forwardOwn(const TCoord& p) const
{
    const double u = p.X + Oin1;
    const double v = p.Y + Oin2;
    return TCoord{(A11 * u + A12 * v) * S1 + Oout1, (A21 * u + A22 * v) * S2 + Oout2};
}

TCoord TXYTransform::backOwn(const TCoord& p) const
{
    const double c = (p.X - Oout1) / S1;
    const double d = (p.Y - Oout2) / S2;
    return TCoord{B11 * c + B12 * d - Oin1, B21 * c + B22 * d - Oin2};
}

void TXYTransform::TransFormXY()
{
    const TCoord r = forwardOwn(TCoord{Xin, Yin});
    Xout = r.X;
    Yout = r.Y;
    if (NextTransForm) {
        NextTransForm->Xin = Xout;
        NextTransForm->Yin = Yout;
        NextTransForm->TransFormXY();
        Xout = NextTransForm->Xout;
        Yout = NextTransForm->Yout;
    }
}

void TXYTransform::TransFormXYBack()
{
    TCoord p{Xout, Yout};
    if (NextTransForm) {
        NextTransForm->Xout = Xout;
        NextTransForm->Yout = Yout;
        NextTransForm->TransFormXYBack();
        p = TCoord{NextTransForm->Xin, NextTransForm->Yin};
    }
    const TCoord r = backOwn(p);
    Xin = r.X;
    Yin = r.Y;
}

TCoord TXYTransform::TransFormCoord(const TCoord& Point) const
{
    TCoord p = forwardOwn(Point);
    for (const TXYTransform* t = NextTransForm; t; t = t->NextTransForm)
        p = t->forwardOwn(p);
    return p;
}

TCoord TXYTransform::TransFormCoordBack(const TCoord& Point) const
{
    TCoord p = Point;
    if (NextTransForm)
        p = NextTransForm->TransFormCoordBack(p);
    return backOwn(p);
}

void TXYTransform::CloneFrom(const TXYTransform& XYTransform)
{
    A11 = XYTransform.A11;
    A12 = XYTransform.A12;
    A21 = XYTransform.A21;
    A22 = XYTransform.A22;
    B11 = XYTransform.B11;
    B12 = XYTransform.B12;
    B21 = XYTransform.B21;
    B22 = XYTransform.B22;
    Oin1 = XYTransform.Oin1;
    Oin2 = XYTransform.Oin2;
    Oout1 = XYTransform.Oout1;
    Oout2 = XYTransform.Oout2;
    S1 = XYTransform.S1;
    S2 = XYTransform.S2;
}

void TXYTransform::appendLink(TXYTransform* next, std::unique_ptr<TXYTransform> owned)
{
    TXYTransform* last = this;
    while (last->NextTransForm)
        last = last->NextTransForm;
    last->NextTransForm = next;
    last->NextTransFormOwned = owned != nullptr;
    last->m_ownedNext = std::move(owned);
}

void TXYTransform::AddTransform(TXYTransform& XYTransform)
{
    appendLink(&XYTransform, nullptr);
}

void TXYTransform::AddTransform(std::unique_ptr<TXYTransform> XYTransform)
{
    TXYTransform* raw = XYTransform.get();
    if (raw)
        appendLink(raw, std::move(XYTransform));
}

void TXYTFW2S::SetOutTranslation(int X, int Y)
{
    Oout1 = X;
    Oout2 = Y;
    TXYTransform::SetOutTranslation(X, Y);
}

void TXYTFW2S::AddOutTranslation(int X, int Y)
{
    Oout1 += X;
    Oout2 += Y;
    TXYTransform::SetOutTranslation(Oout1, Oout2);
}

void TXYTFW2S::TransFormXY()
{
    TXYTransform::TransFormXY();
    const TPoint p = CoordToPoint(TCoord{TXYTransform::Xout, TXYTransform::Yout});
    Xout = p.x();
    Yout = p.y();
}

void TXYTFW2S::TransFormXYBack()
{
    TXYTransform::Xout = Xout;
    TXYTransform::Yout = Yout;
    TXYTransform::TransFormXYBack();
}

TPoint TXYTFW2S::TransFormCoord(const TCoord& Coord) const
{
    return CoordToPoint(TXYTransform::TransFormCoord(Coord));
}

TCoord TXYTFW2S::TransFormCoordBack(const TPoint& Point) const
{
    return TXYTransform::TransFormCoordBack(PointToCoord(Point));
}

} // namespace lapido
