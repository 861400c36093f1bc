// The drawing: view (paint, zoom, pan, pick), drawing file, and the outline of its objects.
#include "geometry/cadonpaintbox.h"

#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"

#include <QPainter>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <map>

namespace lapido {

namespace {

const QString kGeneral = QStringLiteral("General");
const QString kDescription = QStringLiteral("VeduvAZU Drawing");
constexpr double kZoomStep = 1.1;
constexpr double kFit = 0.9;

// "1.23" in the user's locale without group separators, as the status bar shows numbers.
QString fixed3(double v)
{
    QString s = QString::number(v, 'f', 3);
    s.replace(QChar('.'), decimalSeparator());
    return s;
}

// General format with 3 significant digits: "36", "0.0833", "1.1E3".
QString general3(double v)
{
    QString s = QString::number(v, 'g', 3);
    const qsizetype e = s.indexOf(QChar('e'));
    if (e >= 0)
        s = s.left(e) + QChar('E') + QString::number(s.mid(e + 1).toInt());
    s.replace(QChar('.'), decimalSeparator());
    return s;
}

std::unique_ptr<TCADObject> makeObject(const QString& type, TCADOnPaintBox* owner)
{
    if (type.compare(QLatin1String("TCADObject"), Qt::CaseInsensitive) == 0)
        return std::make_unique<TCADObject>(owner);
    if (type.compare(QLatin1String("TCADLine"), Qt::CaseInsensitive) == 0)
        return std::make_unique<TCADLine>(owner);
    if (type.compare(QLatin1String("TCADArc"), Qt::CaseInsensitive) == 0)
        return std::make_unique<TCADArc>(owner);
    return nullptr;
}

} // namespace

TCADObject& TCADObjectList::GetCADObject(int Index) const
{
    if (Index < 0 || Index >= Count())
        throw std::out_of_range("List index out of bounds (" + std::to_string(Index) + ")");
    return *m_objects[std::size_t(Index)];
}

int TCADObjectList::Add(std::unique_ptr<TCADObject> ACADObject)
{
    m_objects.push_back(std::move(ACADObject));
    return Count() - 1;
}

TCADOnPaintBox::TCADOnPaintBox(PaintBox* APaintBox, StatusBar AStatusBar)
    : m_paintBox(APaintBox), m_statusBar(std::move(AStatusBar))
{
    XYTFW2S.SetScale(1, -1);
}

TCADOnPaintBox::~TCADOnPaintBox() = default;

void TCADOnPaintBox::showStatus(const QString& text) const
{
    if (m_statusBar)
        m_statusBar(text);
}

QSize TCADOnPaintBox::clientSize() const
{
    return m_paintBox ? m_paintBox->clientSize() : QSize();
}

void TCADOnPaintBox::Clear()
{
    CADObjectSelected = nullptr;
    CADObjectBeingMoved = nullptr;
    CADObjectList.Clear();
    ZoomAll();
}

void TCADOnPaintBox::render(QPainter& painter, QSize size)
{
    const int w = size.width(), h = size.height();
    XYTFW2S.SetOutTranslation(w / 2, h / 2);
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QColor(0xC0, 0xC0, 0xC0));
    painter.setBrush(Qt::white);
    painter.drawRect(-1, -1, w + 2, h + 2);
    painter.setBrush(Qt::NoBrush);
    const TPoint origin = XYTFW2S.TransFormCoord(TCoord{0, 0});
    painter.drawLine(origin.x(), 0, origin.x(), h);
    painter.drawLine(0, origin.y(), w, origin.y());
    for (const auto& object : CADObjectList)
        object->Paint(painter);
}

QImage TCADOnPaintBox::renderImage(QSize size)
{
    QImage bitmap(size, QImage::Format_RGB32);
    bitmap.fill(Qt::white);
    QPainter painter(&bitmap);
    render(painter, size);
    painter.end();
    return bitmap;
}

void TCADOnPaintBox::Paint()
{
    if (!m_paintBox)
        return;
    const QSize size = m_paintBox->clientSize();
    if (size.isEmpty())
        return;
    m_paintBox->showBitmap(renderImage(size));
}

void TCADOnPaintBox::AddScale(double Scale)
{
    XYTFW2S.AddScale(Scale, Scale);
    showStatus(QStringLiteral("Scale : ") + general3(XYTFW2S.S1));
    Paint();
}

void TCADOnPaintBox::ZoomAll()
{
    TCoord m1{1e300, 1e300}, m2{-1e300, -1e300};
    for (const auto& object : CADObjectList)
        object->ExtendBoundRect(m1, m2);
    if (m1.X > m2.X || m1.Y > m2.Y) {
        XYTFW2S.SetInTranslation(0, 0);
        XYTFW2S.SetScale(1, -1);
    } else {
        const QSize size = clientSize();
        const double w = size.width(), h = size.height();
        const double dx = m2.X - m1.X, dy = m2.Y - m1.Y;
        XYTFW2S.SetInTranslation(-(m1.X + m2.X) / 2, -(m1.Y + m2.Y) / 2);
        double s = w * dy >= h * dx ? kFit * h / dy : kFit * w / dx;
        // A single point, or no paint box to fit into, has no size to fit: keep one world
        // unit per pixel rather than an infinite or zero scale.
        if (!std::isfinite(s) || s <= 0)
            s = 1;
        XYTFW2S.SetScale(s, -s);
    }
    Paint();
}

void TCADOnPaintBox::PaintBoxMouseMove(Qt::MouseButtons Buttons, Qt::KeyboardModifiers Shift, int X,
                                       int Y)
{
    if (Buttons & (Qt::RightButton | Qt::MiddleButton)) {
        if (Shift & Qt::ShiftModifier) {
            if (Y < LastMouseY)
                AddScale(kZoomStep);
            else if (Y > LastMouseY)
                AddScale(1 / kZoomStep);
            else
                AddScale(1);
        } else {
            const TCoord before = XYTFW2S.TransFormCoordBack(TPoint(LastMouseX, LastMouseY));
            const TCoord now = XYTFW2S.TransFormCoordBack(TPoint(X, Y));
            XYTFW2S.AddInTranslation(now.X - before.X, now.Y - before.Y);
            showStatus(QStringLiteral("Origin : (") + fixed3(XYTFW2S.Oin1) + QChar(',')
                       + fixed3(XYTFW2S.Oin2) + QChar(')'));
            Paint();
        }
    } else {
        const TCoord world = XYTFW2S.TransFormCoordBack(TPoint(X, Y));
        showStatus(QStringLiteral("Coordinates : (") + fixed3(world.X) + QChar(',') + fixed3(world.Y)
                   + QChar(')'));
    }
    LastMouseX = X;
    LastMouseY = Y;
    LastCursor = Qt::ArrowCursor;
    for (const auto& object : CADObjectList)
        if (object->MouseMoveCatched(Shift, X, Y))
            break;
    if (m_paintBox)
        m_paintBox->setCursorShape(LastCursor);
}

void TCADOnPaintBox::PaintBoxMouseDown(Qt::MouseButton Button, Qt::KeyboardModifiers Shift, int X,
                                       int Y)
{
    CADObjectSelected = nullptr;
    SelectDistance = 4;
    for (const auto& object : CADObjectList)
        object->MouseDown(Button, Shift, X, Y);
    Paint();
}

void TCADOnPaintBox::saveToIni(IniFile& ini) const
{
    ini.WriteString(kGeneral, QStringLiteral("Description"), kDescription);
    ini.WriteInteger(kGeneral, QStringLiteral("Version"), 1);
    ini.WriteInteger(kGeneral, QStringLiteral("ObjectCount"), CADObjectList.Count());
    int i = 0;
    for (const auto& object : CADObjectList) {
        const QString section = QStringLiteral("Object_%1").arg(++i);
        ini.WriteString(section, QStringLiteral("Type"), object->typeName());
        object->WriteFile(ini, section);
    }
}

bool TCADOnPaintBox::SaveToFile(const QString& FileName, QString* error) const
{
    IniFile ini;
    saveToIni(ini);
    const bool ok = ini.saveToFile(FileName);
    if (!ok && error)
        *error = ini.errorString();
    return ok;
}

bool TCADOnPaintBox::loadFromIni(const IniFile& ini)
{
    if (ini.ReadString(kGeneral, QStringLiteral("Description"), {}).toLower()
        != kDescription.toLower())
        return false;
    const std::int64_t count = ini.ReadInteger(kGeneral, QStringLiteral("ObjectCount"), 0);
    // Visit only the object sections that exist, in number order: the same objects as counting
    // 1..ObjectCount, without spinning through an absurd count of absent ones.
    static const QRegularExpression objectSection(QStringLiteral("^Object_(\\d{1,18})$"),
                                                  QRegularExpression::CaseInsensitiveOption);
    std::map<std::int64_t, QString> sections;
    for (const QString& name : ini.ReadSections()) {
        const auto match = objectSection.match(name);
        if (!match.hasMatch())
            continue;
        const std::int64_t n = match.captured(1).toLongLong();
        if (n >= 1 && n <= count)
            sections.emplace(n, name);
    }
    for (const auto& [n, section] : sections) {
        auto object = makeObject(ini.ReadString(section, QStringLiteral("Type"), {}), this);
        if (!object)
            continue;
        object->ReadFile(ini, section);
        CADObjectList.Add(std::move(object));
    }
    return true;
}

bool TCADOnPaintBox::LoadFromFile(const QString& FileName)
{
    const IniFile ini(FileName);
    const bool ok = loadFromIni(ini);
    if (!ok)
        operatorDialogs().message(DialogKind::Error, QStringLiteral("Error"),
                                  QStringLiteral("Invalid file format"), {});
    Paint();
    return ok;
}

TContourList TCADOnPaintBox::GetOutLine(double& Width) const
{
    std::vector<const TCADLine*> work;
    TCoord m1{1e300, 1e300}, m2{-1e300, -1e300};
    for (const auto& object : CADObjectList) {
        if (!object->Visible || object->Surpressed || !object->hasGeometry())
            continue;
        const auto* line = static_cast<const TCADLine*>(object.get());
        work.push_back(line);
        line->ExtendBoundRect(m1, m2);
    }
    TContourList result;
    Width = 0;
    if (work.empty())
        return result;
    const double height = m2.Y - m1.Y;
    const double a = height > 1e-9 ? 1 / height : 1;
    Width = a * (m2.X - m1.X);
    const double midY = (m1.Y + m2.Y) / 2;
    const double e = 0.0001 / a;
    auto out = [&](TContour& c, double x, double y) { c.Add(a * (x - m1.X), a * (y - midY)); };
    auto appendAllButLast = [&](TContour& c, const TContour& points) {
        for (int i = 0; i + 1 < points.Count(); ++i)
            out(c, points[i].X, points[i].Y);
    };

    while (!work.empty()) {
        auto contour = std::make_unique<TContour>();
        TCoord current = work.front()->P1;
        bool found = true;
        bool consumed = false;
        while (found) {
            found = false;
            for (std::size_t i = 0; i < work.size(); ++i) {
                const TCADLine* object = work[i];
                if (CoordDistance(object->P1, current) < e) {
                    appendAllButLast(*contour, object->Linearize(false));
                    current = object->P2;
                } else if (CoordDistance(object->P2, current) < e) {
                    appendAllButLast(*contour, object->Linearize(true));
                    current = object->P1;
                } else {
                    continue;
                }
                work.erase(work.begin() + std::ptrdiff_t(i));
                found = consumed = true;
                break;
            }
        }
        // Only a point that is not a number fails to match its own object: drop that object
        // rather than scan for ever.
        if (!consumed)
            work.erase(work.begin());
        out(*contour, current.X, current.Y);
        result.Add(std::move(contour));
    }
    return result;
}

} // namespace lapido
