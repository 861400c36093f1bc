// The drawing: its objects, its view with zoom, pan and picking, its file, DXF import, outline.
#pragma once

#include "geometry/cadobjects.h"
#include "geometry/contours.h"
#include "geometry/xytransform.h"

#include <QImage>
#include <QSize>
#include <QString>
#include <Qt>

#include <functional>
#include <memory>
#include <vector>

class QIODevice;
class QPainter;

namespace lapido {

class IniFile;

// The surface a drawing is shown on; the editor window implements it with a widget.
class PaintBox {
public:
    virtual ~PaintBox() = default;
    virtual QSize clientSize() const = 0;
    // Shows the finished picture (the off-screen bitmap of one Paint).
    virtual void showBitmap(const QImage& bitmap) = 0;
    virtual void setCursorShape(Qt::CursorShape shape) { (void)shape; }
};

// Receives the status texts ("Coordinates : (...)", "Scale : ...", "Origin : (...)").
using StatusBar = std::function<void(const QString& text)>;

// Owns the drawing's objects in list order.
class TCADObjectList {
public:
    TCADObject& GetCADObject(int Index) const;
    int Add(std::unique_ptr<TCADObject> ACADObject);
    int Count() const { return int(m_objects.size()); }
    void Clear() { m_objects.clear(); }
    auto begin() const { return m_objects.begin(); }
    auto end() const { return m_objects.end(); }

private:
    std::vector<std::unique_ptr<TCADObject>> m_objects;
};

// What one DXF import did: objects added, and an error that stopped it early (the objects
// read before the error stay in the drawing).
struct DxfImportResult {
    bool ok = true;
    QString error;
    int objectsAdded = 0;
};

class TCADOnPaintBox {
public:
    // Either may be absent: glyphs and fonts use a drawing only to load a file and outline it.
    explicit TCADOnPaintBox(PaintBox* APaintBox = nullptr, StatusBar AStatusBar = {});
    ~TCADOnPaintBox();
    TCADOnPaintBox(const TCADOnPaintBox&) = delete;
    TCADOnPaintBox& operator=(const TCADOnPaintBox&) = delete;

    // Empties the drawing, fits the (empty) view and repaints.
    void Clear();
    // Redraws onto the paint box (nothing without one).
    void Paint();
    // The picture of Paint for a client area of the given size; puts the screen origin at its
    // centre.
    void render(QPainter& painter, QSize size);
    QImage renderImage(QSize size);
    // Multiplies both screen scales, shows the scale and repaints.
    void AddScale(double Scale);
    // Fits the drawing into 90 % of the paint box's limiting dimension, centred, and repaints.
    void ZoomAll();

    // Mouse handling as plain functions of position and buttons (the window forwards them and
    // then calls its own handlers).
    void PaintBoxMouseMove(Qt::MouseButtons Buttons, Qt::KeyboardModifiers Shift, int X, int Y);
    void PaintBoxMouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X, int Y);

    // The drawing file ("VeduvAZU Drawing", ini layout, numbers written with a point and read
    // with a point or a comma). The save goes through a temporary file, so a failed save leaves
    // the old file; error says why.
    bool SaveToFile(const QString& FileName, QString* error = nullptr) const;
    // Appends the file's objects and repaints. A file that is not a drawing shows "Invalid file
    // format"; one that is missing, a folder or unreadable says why; a file with a number that
    // does not read or geometry that cannot be marked names the object. Either adds nothing and
    // returns false, with the message in error when given.
    bool LoadFromFile(const QString& FileName, QString* error = nullptr);
    // The same from a loaded ini object (no message, no repaint); error receives the message.
    bool loadFromIni(const IniFile& ini, QString* error = nullptr);
    void saveToIni(IniFile& ini) const;

    // Appends the lines and arcs of an ASCII DXF file's ENTITIES section; does not repaint or
    // zoom. A malformed, truncated, binary or absurd file stops the import with an error.
    DxfImportResult LoadDXF(const QString& FileName);
    DxfImportResult loadDxf(QIODevice& device);

    // The visible, unsuppressed lines and arcs chained into contours, scaled to height 1,
    // centred on y = 0 with the left edge at x = 0. Width: the scaled width (0 when empty).
    TContourList GetOutLine(double& Width) const;

    TCADObjectList CADObjectList;
    TCADObject* CADObjectSelected = nullptr;
    TCADObject* CADObjectBeingMoved = nullptr;
    PaintBox* m_paintBox;
    StatusBar m_statusBar;
    TXYTFW2S XYTFW2S;
    Qt::CursorShape LastCursor = Qt::ArrowCursor;
    int LastMouseX = 0;
    int LastMouseY = 0;
    double SelectDistance = 4;

private:
    void showStatus(const QString& text) const;
    QSize clientSize() const;
};

} // namespace lapido
