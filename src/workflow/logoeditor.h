// TLogoEditor: the logo editor's behaviour without its window: the drawing, its layers,
// suppression of single objects, and opening, importing and saving with their questions.
#pragma once

#include "geometry/cadonpaintbox.h"

#include <QString>

#include <Qt>

#include <vector>

namespace lapido {

class TLogoEditor {
public:
    // A DXF file larger than this is imported under a wait window that can cancel it.
    static constexpr qint64 kDxfProgressBytes = 1 << 20;
    static constexpr double kWheelZoom = 1.05;

    struct LayerEntry {
        QString name;
        bool checked = false;
        bool operator==(const LayerEntry&) const = default;
    };
    // The pop-up menu of the paint box after a click.
    struct PopupMenu {
        bool attached = false; // an object was picked
        bool checked = false;
        QString caption;
    };

    explicit TLogoEditor(PaintBox* paintBox = nullptr, StatusBar statusBar = {});

    // Every opening starts with an empty, unchanged drawing.
    void FormShow();
    // The sorted layer names of the drawing, each checked when its first object is visible.
    void RebuildLayerList();
    const std::vector<LayerEntry>& layers() const { return m_layers; }
    // The "Layers" group is shown only with at least one entry.
    bool layersVisible() const { return !m_layers.empty(); }
    // A check changed: objects of listed layers are visible exactly when their layer is checked.
    void CheckListBoxLayersClick(int index, bool checked);

    // "Open", "Import DXF": ask first when Dirty, then read the chosen file into a fresh drawing.
    // False when cancelled or the file could not be read.
    bool butOpenClick();
    bool BitBtnDXFClick();
    // Reads a DXF file into a fresh drawing (the dialog-free part of "Import DXF").
    bool importDxf(const QString& fileName);
    bool openDrawing(const QString& fileName);
    // "Save": asks for the file (starting at the proposed name in the logo folder), asks before
    // overwriting, writes. False when cancelled or the write failed; Dirty stays as it was.
    bool butSaveClick();
    // The name "Save" proposes: after Open the opened file with ".lal", after an import the
    // DXF file's base name.
    const QString& proposedSaveName() const { return m_proposedName; }
    void BitBtnZoomAllClick() { CADOnPaintBox.ZoomAll(); }

    PopupMenu PaintBoxMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y);
    // Toggles the picked object's suppression (the menu entry's check).
    void mnuCADObjectSurpressClick();
    const PopupMenu& popupMenu() const { return m_popup; }
    // Wheel up (positive delta) zooms in by 1.05, down zooms out by the same factor.
    void MouseWheel(int delta);
    // True when the window may close ("Discard current changes?" when Dirty).
    bool FormCloseQuery();

    TCADOnPaintBox CADOnPaintBox;
    bool Dirty = false;

private:
    // "Discard current changes?" when Dirty; true to go on.
    bool discardConfirmed();
    PopupMenu popupFor(const TCADObject* object) const;

    std::vector<LayerEntry> m_layers;
    PopupMenu m_popup;
    QString m_proposedName;
};

// File filters of the editor's dialogs, in the "description|pattern" form that the dialogs
// turn into their own.
QString logoFileFilter();
QString dxfFileFilter();

} // namespace lapido
