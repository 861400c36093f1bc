// The drawing: view (paint, zoom, pan, pick), drawing file, and the outline of its objects.
#include "geometry/cadonpaintbox.h"

#include "platform/inifile.h"
#include "platform/numfmt.h"
#include "platform/operatordialogs.h"
#include "platform/savefile.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <utility>

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

// The end points of the outline's objects in a grid of cells twice the join tolerance wide, so
// that every end point nearer than the tolerance lies in one of the (at most four) cells that
// the square of the tolerance around a point touches.
// Drawings too large for exact cells (coordinates beyond 2^50 tolerances) are scanned in full.
class EndPointIndex {
public:
    EndPointIndex(const std::vector<const TCADLine*>& objects, double tolerance)
        : m_objects(objects), m_tolerance(tolerance), m_cellSize(2 * tolerance),
          m_taken(objects.size(), false)
    {
        constexpr double kExact = 1125899906842624.0; // 2^50
        m_useGrid = tolerance > 0 && std::isfinite(tolerance);
        for (const TCADLine* o : objects)
            for (const TCoord& p : {o->P1, o->P2})
                if (std::isfinite(p.X) && std::isfinite(p.Y)
                    && (std::abs(p.X / m_cellSize) > kExact || std::abs(p.Y / m_cellSize) > kExact))
                    m_useGrid = false;
        if (!m_useGrid)
            return;
        m_cells.reserve(objects.size() * 2);
        for (std::size_t i = 0; i < objects.size(); ++i) {
            for (const TCoord& p : {objects[i]->P1, objects[i]->P2}) {
                if (!std::isfinite(p.X) || !std::isfinite(p.Y))
                    continue;
                auto& ids = m_cells[key(cellOf(p.X), cellOf(p.Y))].ids;
                if (ids.empty() || ids.back() != i)
                    ids.push_back(i);
            }
        }
    }

    bool isTaken(std::size_t i) const { return m_taken[i]; }
    void take(std::size_t i) { m_taken[i] = true; }

    // The lowest index, not taken and not below from, whose P1 or P2 is nearer than the
    // tolerance to p; -1 when there is none.
    std::ptrdiff_t firstNear(const TCoord& p, std::size_t from)
    {
        if (!m_useGrid || !std::isfinite(p.X) || !std::isfinite(p.Y)) {
            for (std::size_t i = from; i < m_objects.size(); ++i)
                if (!m_taken[i] && touches(i, p))
                    return std::ptrdiff_t(i);
            return -1;
        }
        std::ptrdiff_t best = -1;
        // A large table costs a cache miss per cell looked at, so only the touched cells are;
        // the reach is a hair wider than the tolerance (and than the rounding of large
        // coordinates), so that no cell holding a near point is left out.
        const double reachX = m_tolerance * (1 + 1e-9) + std::abs(p.X) * 1e-15;
        const double reachY = m_tolerance * (1 + 1e-9) + std::abs(p.Y) * 1e-15;
        const std::int64_t x0 = cellOf(p.X - reachX), x1 = cellOf(p.X + reachX);
        const std::int64_t y0 = cellOf(p.Y - reachY), y1 = cellOf(p.Y + reachY);
        for (std::int64_t cx = x0; cx <= x1; ++cx) {
            for (std::int64_t cy = y0; cy <= y1; ++cy) {
                const auto it = m_cells.find(key(cx, cy));
                if (it == m_cells.end())
                    continue;
                Cell& cell = it->second;
                while (cell.start < cell.ids.size() && m_taken[cell.ids[cell.start]])
                    ++cell.start;
                // Ids are ascending: the first match of a cell is its lowest.
                for (std::size_t k = cell.start; k < cell.ids.size(); ++k) {
                    const std::size_t i = cell.ids[k];
                    if (best >= 0 && std::ptrdiff_t(i) >= best)
                        break;
                    if (!m_taken[i] && touches(i, p)) {
                        best = std::ptrdiff_t(i);
                        break;
                    }
                }
            }
        }
        return best;
    }

private:
    struct Cell {
        std::vector<std::size_t> ids;
        std::size_t start = 0;
    };
    struct KeyHash {
        std::size_t operator()(const std::pair<std::int64_t, std::int64_t>& k) const
        {
            return std::size_t((std::uint64_t(k.first) * 0x9E3779B97F4A7C15ULL) ^ std::uint64_t(k.second));
        }
    };

    bool touches(std::size_t i, const TCoord& p) const
    {
        return CoordDistance(m_objects[i]->P1, p) < m_tolerance || CoordDistance(m_objects[i]->P2, p) < m_tolerance;
    }
    std::int64_t cellOf(double v) const { return std::int64_t(std::floor(v / m_cellSize)); }
    static std::pair<std::int64_t, std::int64_t> key(std::int64_t x, std::int64_t y) { return {x, y}; }

    const std::vector<const TCADLine*>& m_objects;
    double m_tolerance;
    double m_cellSize;
    std::vector<bool> m_taken;
    bool m_useGrid = false;
    std::unordered_map<std::pair<std::int64_t, std::int64_t>, Cell, KeyHash> m_cells;
};

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

bool TCADOnPaintBox::loadFromIni(const IniFile& ini, QString* error)
{
    auto refuse = [error](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (ini.ReadString(kGeneral, QStringLiteral("Description"), {}).toLower()
        != kDescription.toLower())
        return refuse(QStringLiteral("Invalid file format"));
    std::int64_t count = 0;
    if (const auto text = ini.value(kGeneral, QStringLiteral("ObjectCount"))) {
        const auto n = StrToInt64(text->trimmed());
        if (!n)
            return refuse(QStringLiteral("Invalid file format: %1, ObjectCount: \"%2\" is not a whole number")
                              .arg(kGeneral, *text));
        count = *n;
    }
    // Visit only the object sections that exist, in number order: the same objects as counting
    // 1..ObjectCount, without spinning through an absurd count of absent ones.
    const QLatin1String prefix("Object_");
    std::vector<std::pair<std::int64_t, QString>> sections;
    for (const QString& name : ini.ReadSections()) {
        if (!name.startsWith(prefix, Qt::CaseInsensitive))
            continue;
        const QStringView digits = QStringView(name).sliced(prefix.size());
        if (digits.isEmpty() || digits.size() > 18
            || !std::all_of(digits.begin(), digits.end(), [](QChar c) { return c >= u'0' && c <= u'9'; }))
            continue;
        const std::int64_t n = digits.toLongLong();
        if (n >= 1 && n <= count)
            sections.emplace_back(n, name);
    }
    // Sections are nearly always in number order already (then no sort is needed); a repeated
    // number keeps its first.
    const auto byNumber = [](const auto& a, const auto& b) { return a.first < b.first; };
    if (!std::is_sorted(sections.begin(), sections.end(), byNumber))
        std::stable_sort(sections.begin(), sections.end(), byNumber);
    sections.erase(std::unique(sections.begin(), sections.end(), [](const auto& a, const auto& b) { return a.first == b.first; }),
                   sections.end());
    // Counted before any object is made: beyond the bound the file is refused at the cost of
    // reading it, not of building, outlining and drawing each of its objects.
    if (sections.size() > std::size_t(kMaxDrawingObjects))
        return refuse(QStringLiteral("The drawing holds %1 objects, more than the %2 a logo may hold (what a girdle "
                                     "can carry)")
                          .arg(sections.size())
                          .arg(kMaxDrawingObjects));
    // The whole file or nothing: one object the station cannot mark refuses the drawing.
    std::vector<std::unique_ptr<TCADObject>> objects;
    objects.reserve(sections.size());
    for (const auto& [n, section] : sections) {
        auto object = makeObject(ini.ReadString(section, QStringLiteral("Type"), {}), this);
        if (!object)
            continue;
        try {
            object->ReadFile(ini, section);
        } catch (const DrawingValueError& e) {
            return refuse(QStringLiteral("Invalid file format: %1 (%2), %3: %4")
                              .arg(section, object->typeName(), e.key, e.message));
        }
        const QString fault = object->geometryFault();
        if (!fault.isEmpty())
            return refuse(QStringLiteral("Invalid file format: %1 (%2): %3").arg(section, object->typeName(), fault));
        objects.push_back(std::move(object));
    }
    for (auto& object : objects)
        CADObjectList.Add(std::move(object));
    return true;
}

bool TCADOnPaintBox::LoadFromFile(const QString& FileName, QString* error)
{
    // A file that cannot be opened is not a matter of its format: the operator needs the real
    // reason to put it right.
    QString problem = unreadableFileReason(FileName);
    if (problem.isEmpty()) {
        const IniFile ini(FileName);
        loadFromIni(ini, &problem);
    }
    if (!problem.isEmpty()) {
        operatorDialogs().message(DialogKind::Error, QStringLiteral("Error"), problem, {});
        if (error)
            *error = problem;
    }
    Paint();
    return problem.isEmpty();
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
    // Each chain is gathered in one reused buffer and then copied into a contour of exactly its
    // size: a drawing of many short chains would otherwise hold a block of room per chain.
    std::vector<TVertex> chain;
    auto out = [&](std::vector<TVertex>& c, double x, double y) { c.push_back(TVertex{a * (x - m1.X), a * (y - midY), false}); };
    auto appendAllButLast = [&](std::vector<TVertex>& c, const TContour& points) {
        for (int i = 0; i + 1 < points.Count(); ++i)
            out(c, points[i].X, points[i].Y);
    };

    // Chains follow the first object in list order that touches the current point, by P1 and
    // then by P2; the index finds it without rescanning the whole list at every step.
    EndPointIndex index(work, e);
    std::size_t first = 0;
    for (;;) {
        while (first < work.size() && index.isTaken(first))
            ++first;
        if (first == work.size())
            break;
        chain.clear();
        TCoord current = work[first]->P1;
        bool consumed = false;
        for (;;) {
            const std::ptrdiff_t i = index.firstNear(current, first);
            if (i < 0)
                break;
            const TCADLine* object = work[std::size_t(i)];
            if (CoordDistance(object->P1, current) < e) {
                appendAllButLast(chain, object->Linearize(false));
                current = object->P2;
            } else {
                appendAllButLast(chain, object->Linearize(true));
                current = object->P1;
            }
            index.take(std::size_t(i));
            consumed = true;
        }
        // Only a point that is not a number fails to match its own object: drop that object
        // rather than scan for ever.
        if (!consumed)
            index.take(first);
        out(chain, current.X, current.Y);
        auto contour = std::make_unique<TContour>(chain.size());
        for (const TVertex& v : chain)
            contour->Add(v);
        result.Add(std::move(contour));
    }
    return result;
}

} // namespace lapido
