// The logo editor's model: layers, suppression, open / import / save and their questions.
#include "workflow/logoeditor.h"

#include "platform/eventpump.h"
#include "platform/operatordialogs.h"
#include "platform/stationglobals.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <algorithm>
#include <functional>

namespace lapido {

QString logoFileFilter()
{
    return QStringLiteral("Lapidograph Logo files|*.lal");
}

QString dxfFileFilter()
{
    return QStringLiteral("AutoCAD DXF files|*.dxf");
}

namespace {

// Reads through to another device, reporting how far it got before each read; the reader
// stops with a read error as soon as the report asks to cancel.
class ProgressDevice final : public QIODevice {
public:
    using Step = std::function<bool(qint64 done, qint64 total)>;
    ProgressDevice(QIODevice& inner, Step step) : m_inner(inner), m_step(std::move(step))
    {
        QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    bool cancelled() const { return m_cancelled; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (!m_step(m_inner.pos(), m_inner.size())) {
            m_cancelled = true;
            setErrorString(QStringLiteral("cancelled"));
            return -1;
        }
        return m_inner.read(data, maxSize);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QIODevice& m_inner;
    Step m_step;
    bool m_cancelled = false;
};

bool goesOn(DialogResult answer)
{
    return answer != DialogResult::Cancel && answer != DialogResult::None;
}

const DialogButton kOkCancel[] = {{DialogResult::Ok, {}, true}, {DialogResult::Cancel, {}, false}};

} // namespace

TLogoEditor::TLogoEditor(PaintBox* paintBox, StatusBar statusBar)
    : CADOnPaintBox(paintBox, std::move(statusBar))
{
}

void TLogoEditor::FormShow()
{
    CADOnPaintBox.Clear();
    RebuildLayerList();
    Dirty = false;
    m_popup = {};
}

void TLogoEditor::RebuildLayerList()
{
    m_layers.clear();
    for (const auto& object : CADOnPaintBox.CADObjectList) {
        const QString& name = object->LayerName;
        if (name.isEmpty())
            continue;
        const auto at = std::lower_bound(m_layers.begin(), m_layers.end(), name,
                                         [](const LayerEntry& e, const QString& n) { return e.name < n; });
        if (at != m_layers.end() && at->name == name)
            continue;
        m_layers.insert(at, {name, object->Visible});
    }
}

void TLogoEditor::CheckListBoxLayersClick(int index, bool checked)
{
    if (index < 0 || index >= int(m_layers.size()))
        return;
    m_layers[std::size_t(index)].checked = checked;
    for (const auto& object : CADOnPaintBox.CADObjectList) {
        const auto layer = std::find_if(m_layers.begin(), m_layers.end(),
                                        [&](const LayerEntry& e) { return e.name == object->LayerName; });
        if (layer != m_layers.end())
            object->Visible = layer->checked;
    }
    Dirty = true;
    CADOnPaintBox.Paint();
}

bool TLogoEditor::discardConfirmed()
{
    if (!Dirty)
        return true;
    return goesOn(operatorDialogs().message(DialogKind::Warning, QStringLiteral("Warning"),
                                            QStringLiteral("Discard current changes?"), kOkCancel));
}

bool TLogoEditor::butOpenClick()
{
    if (!discardConfirmed())
        return false;
    const auto file = operatorDialogs().chooseOpenFile(QStringLiteral("Open"), WorkingDir() + QStringLiteral("Logos"),
                                                       logoFileFilter());
    return file && openDrawing(*file);
}

bool TLogoEditor::openDrawing(const QString& fileName)
{
    // The drawing model appends what it loads; the editor shows one drawing at a time.
    CADOnPaintBox.Clear();
    const bool loaded = CADOnPaintBox.LoadFromFile(fileName);
    CADOnPaintBox.ZoomAll();
    RebuildLayerList();
    const QFileInfo info(fileName);
    m_proposedName = info.path() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(".lal");
    Dirty = false;
    return loaded;
}

bool TLogoEditor::BitBtnDXFClick()
{
    if (!discardConfirmed())
        return false;
    const auto file = operatorDialogs().chooseOpenFile(QStringLiteral("Import DXF"), WorkingDir(), dxfFileFilter());
    return file && importDxf(*file);
}

bool TLogoEditor::importDxf(const QString& fileName)
{
    CADOnPaintBox.Clear();
    QFile file(fileName);
    DxfImportResult result;
    bool cancelled = false;
    if (!file.open(QIODevice::ReadOnly)) {
        result.ok = false;
        result.error = QStringLiteral("%1: %2").arg(fileName, file.errorString());
    } else if (file.size() > kDxfProgressBytes) {
        auto wait = operatorDialogs().beginWait(QStringLiteral("Import DXF"), QStringLiteral("Reading ") + fileName,
                                                QString());
        ProgressDevice progress(file, [&](qint64 done, qint64 total) {
            wait->setProgress(int(done * 1000 / std::max<qint64>(1, total)), 1000);
            eventPump().pump();
            return !wait->abortRequested();
        });
        result = CADOnPaintBox.loadDxf(progress);
        cancelled = progress.cancelled();
    } else {
        result = CADOnPaintBox.loadDxf(file);
    }
    if (cancelled) {
        // Half a drawing is no logo: a cancelled import leaves the editor empty.
        CADOnPaintBox.Clear();
    } else {
        if (!result.ok)
            operatorDialogs().error(result.error);
        CADOnPaintBox.ZoomAll();
    }
    RebuildLayerList();
    m_proposedName = QFileInfo(fileName).completeBaseName();
    Dirty = false;
    return result.ok && !cancelled;
}

bool TLogoEditor::butSaveClick()
{
    const QString start = QFileInfo(m_proposedName).isAbsolute()
        ? m_proposedName
        : WorkingDir() + QStringLiteral("Logos/") + m_proposedName;
    auto file = operatorDialogs().chooseSaveFileAskedByCaller(QStringLiteral("Save"), start, logoFileFilter());
    if (!file || file->isEmpty())
        return false;
    if (QFileInfo(*file).suffix().isEmpty())
        *file += QStringLiteral(".lal");
    if (QFileInfo::exists(*file)
        && !goesOn(operatorDialogs().message(DialogKind::Warning, QStringLiteral("Warning"),
                                             QStringLiteral("Overwrite existing file?"), kOkCancel)))
        return false;
    QString error;
    if (!CADOnPaintBox.SaveToFile(*file, &error)) {
        operatorDialogs().error(error);
        return false;
    }
    Dirty = false;
    return true;
}

TLogoEditor::PopupMenu TLogoEditor::popupFor(const TCADObject* object) const
{
    if (!object)
        return {};
    return {true, object->Surpressed, object->Surpressed ? QStringLiteral("Surpressed") : QStringLiteral("Surpress")};
}

TLogoEditor::PopupMenu TLogoEditor::PaintBoxMouseDown(Qt::MouseButton button, Qt::KeyboardModifiers shift, int x, int y)
{
    CADOnPaintBox.PaintBoxMouseDown(button, shift, x, y);
    m_popup = popupFor(CADOnPaintBox.CADObjectSelected);
    return m_popup;
}

void TLogoEditor::mnuCADObjectSurpressClick()
{
    TCADObject* object = CADOnPaintBox.CADObjectSelected;
    if (!object)
        return;
    object->Surpressed = !m_popup.checked;
    m_popup = popupFor(object);
    Dirty = true;
    CADOnPaintBox.Paint();
}

void TLogoEditor::MouseWheel(int delta)
{
    if (delta > 0)
        CADOnPaintBox.AddScale(kWheelZoom);
    else if (delta < 0)
        CADOnPaintBox.AddScale(1 / kWheelZoom);
}

bool TLogoEditor::FormCloseQuery()
{
    return discardConfirmed();
}

} // namespace lapido
