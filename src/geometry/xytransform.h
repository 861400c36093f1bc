// Points and the chainable affine transform (in-translation, rotation, scale, out-translation).
#pragma once

#include <QPoint>

#include <memory>

namespace lapido {

// A point in millimetres, glyph units, drawing units or unrounded pixels.
struct TCoord {
    double X = 0;
    double Y = 0;
    bool operator==(const TCoord&) const = default;
};

// Whole screen pixels.
using TPoint = QPoint;

TCoord Coord(double X, double Y);
TCoord IntCoord(int X, int Y);
TCoord PointToCoord(const TPoint& P);
// Each axis rounded half to even.
TPoint CoordToPoint(const TCoord& C);
double CoordDistance(const TCoord& P1, const TCoord& P2);

// Forward: u = p + Oin; p' = S * (A u) + Oout, then through the next transform of the chain.
// Back runs the chain last-to-first and undoes each step. B is always the inverse of A, and
// only the rotation setters touch either, so A stays a rotation.
class TXYTransform {
public:
    TXYTransform();
    virtual ~TXYTransform();
    TXYTransform(const TXYTransform&) = delete;
    TXYTransform& operator=(const TXYTransform&) = delete;

    // Identity; drops an owned next transform and unlinks any next one. The registers keep
    // their values.
    void Clear();
    void SetScale(double ScaleX, double ScaleY);
    void AddScale(double ScaleX, double ScaleY);
    // Radians, counter-clockwise. AddRotation applies the new turn after the present one.
    void SetRotation(double Angle);
    void AddRotation(double Angle);
    void SetInTranslation(double X, double Y);
    void AddInTranslation(double X, double Y);
    void SetOutTranslation(double X, double Y);
    void AddOutTranslation(double X, double Y);

    // Register style: (Xin, Yin) -> (Xout, Yout) and back, through the whole chain; every
    // transform of the chain keeps its own intermediate values in its registers.
    void TransFormXY();
    void TransFormXYBack();
    TCoord TransFormCoord(const TCoord& Point) const;
    TCoord TransFormCoordBack(const TCoord& Point) const;

    // Copies matrix, inverse, translations and scales; not the registers, not the chain.
    void CloneFrom(const TXYTransform& XYTransform);
    // Appends at the end of the chain. The chain never destroys a transform appended by
    // reference (a shared, long-lived one such as the camera calibration) ...
    void AddTransform(TXYTransform& XYTransform);
    // ... and destroys one handed over with its ownership together with this one (or on Clear).
    void AddTransform(std::unique_ptr<TXYTransform> XYTransform);

    double A11, A12, A21, A22;
    double B11, B12, B21, B22;
    double Oin1, Oin2;
    double Oout1, Oout2;
    double S1, S2;
    double Xin = 0, Yin = 0;
    double Xout = 0, Yout = 0;
    TXYTransform* NextTransForm = nullptr;
    bool NextTransFormOwned = false;

private:
    void setMatrix(double a11, double a12, double a21, double a22);
    TCoord forwardOwn(const TCoord& p) const;
    TCoord backOwn(const TCoord& p) const;
    void appendLink(TXYTransform* next, std::unique_ptr<TXYTransform> owned);

    std::unique_ptr<TXYTransform> m_ownedNext;
};

// World to screen: the same transform with the out-translation and results in whole pixels.
// Its operations hide those of the base of the same name; the base's floating registers and
// out-translation stay reachable as TXYTransform::Xout and so on.
class TXYTFW2S : public TXYTransform {
public:
    void SetOutTranslation(int X, int Y);
    void AddOutTranslation(int X, int Y);
    void TransFormXY();
    void TransFormXYBack();
    TPoint TransFormCoord(const TCoord& Coord) const;
    TCoord TransFormCoordBack(const TPoint& Point) const;

    int Oout1 = 0, Oout2 = 0;
    int Xout = 0, Yout = 0;
};

} // namespace lapido
