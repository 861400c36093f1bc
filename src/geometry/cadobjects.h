// Drawing objects: the base object, straight lines and circular arcs.
#pragma once

#include "geometry/contours.h"
#include "geometry/xytransform.h"

#include <QString>
#include <Qt>

class QPainter;

namespace lapido {

class IniFile;
class TCADOnPaintBox;

// Thrown by ReadFile for a value the drawing cannot be built from; the drawing's load names
// the object and refuses the whole file.
struct DrawingValueError {
    QString key;
    QString message;
};

// Coordinates, radii and angles beyond this are no drawing a stone can carry (the DXF import
// uses the same bound).
constexpr double kMaxDrawingMagnitude = 1e12;

// The objects a drawing may hold: as many strokes as the longest label a girdle carries (ten
// thousand characters) in a stroke font of about five strokes a character. A drawing beyond it
// is refused when it is read or imported, naming both numbers, so that no logo costs minutes
// of outlining and drawing before it could be marked.
constexpr int kMaxDrawingObjects = 50'000;

// World coordinates in the drawing's own units, Y upwards; angles in radians, counter-clockwise
// from +X. An object made with Create is appended to its drawing, which owns it.
class TCADObject {
public:
    explicit TCADObject(TCADOnPaintBox* AOwner);
    virtual ~TCADObject() = default;
    TCADObject(const TCADObject&) = delete;
    TCADObject& operator=(const TCADObject&) = delete;

    static TCADObject& Create(TCADOnPaintBox& AOwner);

    // The class name written as "Type" in the drawing file.
    virtual QString typeName() const { return QStringLiteral("TCADObject"); }
    // Lines and arcs have end points and bounds; a plain object has none.
    virtual bool hasGeometry() const { return false; }

    // Paints through the owner's world-to-screen transform; only when Visible.
    virtual void Paint(QPainter& painter) const;
    virtual bool MouseMoveCatched(Qt::KeyboardModifiers Shift, int Xm, int Ym);
    // Takes the owner's selection when nearer than its SelectDistance (screen pixels).
    virtual void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int Xm, int Ym);
    // Widens M1 (minimum) and M2 (maximum) to include the object.
    virtual void ExtendBoundRect(TCoord& M1, TCoord& M2) const;
    // The object's keys in one section of the drawing file. Numbers are written with a point
    // whatever the locale, so that a drawing reads the same on every station; they are read
    // with a point or a comma. A number that reads neither way throws DrawingValueError.
    virtual void WriteFile(IniFile& ini, const QString& section) const;
    virtual void ReadFile(const IniFile& ini, const QString& section);
    // Why the object's geometry cannot be marked (a number beyond kMaxDrawingMagnitude or not
    // finite, a negative radius, an arc of more than a full turn); empty when it is sound.
    virtual QString geometryFault() const { return {}; }

    TCADOnPaintBox* Owner;
    bool Surpressed = false;
    bool Visible = true;
    QString LayerName = QStringLiteral("0");
    int PLineID = 0;

protected:
    bool isSelected() const;
};

// The segment from P1 to P2.
class TCADLine : public TCADObject {
public:
    explicit TCADLine(TCADOnPaintBox* AOwner, TCoord AP1 = {}, TCoord AP2 = {});
    static TCADLine& Create(TCADOnPaintBox& AOwner, TCoord AP1, TCoord AP2);

    QString typeName() const override { return QStringLiteral("TCADLine"); }
    bool hasGeometry() const override { return true; }
    void Paint(QPainter& painter) const override;
    void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int Xm, int Ym) override;
    void ExtendBoundRect(TCoord& M1, TCoord& M2) const override;
    void WriteFile(IniFile& ini, const QString& section) const override;
    void ReadFile(const IniFile& ini, const QString& section) override;
    QString geometryFault() const override;

    virtual void GetBoundRect(TCoord& B1, TCoord& B2) const;
    // The object as a polyline from P1 to P2 (from P2 to P1 when reversed).
    virtual TContour Linearize(bool ReversedDirection) const;

    TCoord P1;
    TCoord P2;
};

// A circular arc from P1 to P2 around Pc, turning by A (positive counter-clockwise);
// A2 is always A1 + A.
class TCADArc : public TCADLine {
public:
    // Base initialisation only (the drawing file fills in the values).
    explicit TCADArc(TCADOnPaintBox* AOwner);
    // From two points and the included angle. AA must not be 0 or a full turn (no centre).
    TCADArc(TCADOnPaintBox* AOwner, TCoord AP1, TCoord AP2, double AA);
    // From centre, radius and angles, counter-clockwise from AA1 to AA2 (0 <= A < 2 pi).
    TCADArc(TCADOnPaintBox* AOwner, TCoord APc, double AR, double AA1, double AA2);
    static TCADArc& Create(TCADOnPaintBox& AOwner, TCoord AP1, TCoord AP2, double AA);
    static TCADArc& Create(TCADOnPaintBox& AOwner, TCoord APc, double AR, double AA1, double AA2);

    QString typeName() const override { return QStringLiteral("TCADArc"); }
    void Paint(QPainter& painter) const override;
    void MouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int Xm, int Ym) override;
    void GetBoundRect(TCoord& B1, TCoord& B2) const override;
    void WriteFile(IniFile& ini, const QString& section) const override;
    void ReadFile(const IniFile& ini, const QString& section) override;
    QString geometryFault() const override;
    // Chords of at most Settings().ContourResolution radians each.
    TContour Linearize(bool ReversedDirection) const override;

    double A = 0;
    double R = 0;
    double A1 = 0;
    double A2 = 0;
    TCoord Pc;
};

} // namespace lapido
