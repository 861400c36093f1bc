// The simulated camera library: handles, image memory, picture settings and the filmed stone.
#include "camera/simcamera.h"

#include "camera/imagememoryjpeg.h"

#include "platform/numfmt.h"
#include "platform/stationglobals.h"
#include "settings/settingsrecord.h"
#include "platform/savefile.h"

#include <QFile>
#include <QImage>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <numbers>

namespace lapido {

namespace {

constexpr int kTile = 256; // texture tile, pixels square; a power of two for cheap wrapping

// Luminance of the filmed surfaces before the picture settings.
constexpr int kFacetTone = 92;
constexpr int kGirdleTone = 168;
constexpr int kEdgeTone = 44;
constexpr int kMarkTone = 6;
constexpr int kTextureAmplitude = 14;
// A laser spot is about 8 µm across.
constexpr double kSpotRadiusMm = 0.004;
// The mean of the filmed scene, which automatic gain brings to its reference.
constexpr double kSceneMean = 110.0;

// One grey level (with a faint warm tint on colour sensors) in the frame's pixel layout.
void encodePixel(int lum, bool monochrome, int bits, unsigned char* out)
{
    const int r = std::clamp(lum + (monochrome ? 0 : 6), 0, 255);
    const int g = std::clamp(lum, 0, 255);
    const int b = std::clamp(lum - (monochrome ? 0 : 8), 0, 255);
    switch (bits) {
    case 8: out[0] = static_cast<unsigned char>(g); break;
    case 15: {
        const unsigned v = unsigned(r >> 3) << 10 | unsigned(g >> 3) << 5 | unsigned(b >> 3);
        out[0] = static_cast<unsigned char>(v & 0xFF);
        out[1] = static_cast<unsigned char>(v >> 8);
        break;
    }
    case 16: {
        const unsigned v = unsigned(r >> 3) << 11 | unsigned(g >> 2) << 5 | unsigned(b >> 3);
        out[0] = static_cast<unsigned char>(v & 0xFF);
        out[1] = static_cast<unsigned char>(v >> 8);
        break;
    }
    case 24:
        out[0] = static_cast<unsigned char>(b);
        out[1] = static_cast<unsigned char>(g);
        out[2] = static_cast<unsigned char>(r);
        break;
    case 32:
        out[0] = static_cast<unsigned char>(b);
        out[1] = static_cast<unsigned char>(g);
        out[2] = static_cast<unsigned char>(r);
        out[3] = 0xFF;
        break;
    default: break;
    }
}

// A repeatable grain: hashed noise, averaged over a few neighbours so it looks like polish.
std::array<int, kTile * kTile> makeGrain()
{
    std::array<int, kTile * kTile> raw{};
    for (int i = 0; i < kTile * kTile; ++i) {
        std::uint32_t h = std::uint32_t(i) * 2654435761u;
        h ^= h >> 15;
        h *= 2246822519u;
        h ^= h >> 13;
        raw[size_t(i)] = int(h % (2 * kTextureAmplitude + 1)) - kTextureAmplitude;
    }
    std::array<int, kTile * kTile> grain{};
    for (int y = 0; y < kTile; ++y)
        for (int x = 0; x < kTile; ++x) {
            const int l = (x + kTile - 1) & (kTile - 1), r = (x + 1) & (kTile - 1);
            const int u = (y + kTile - 1) & (kTile - 1);
            grain[size_t(y * kTile + x)] =
                (2 * raw[size_t(y * kTile + x)] + raw[size_t(y * kTile + l)] + raw[size_t(y * kTile + r)]
                 + raw[size_t(u * kTile + x)]) / 4;
        }
    return grain;
}

const std::array<int, kTile * kTile>& grain()
{
    static const auto g = makeGrain();
    return g;
}

struct ImageMemory {
    std::vector<char> bytes;
    int width = 0, height = 0, bits = 0, pitch = 0;
};

// The picture settings as the camera applies them.
struct PictureSettings {
    int brightness = 128; // 0..255
    int contrast = 215;   // 0..511
    int gamma = 100;      // x100
    bool autoGain = false;
    double reference = 128;
    bool operator==(const PictureSettings&) const = default;
};

struct SimCamera {
    SimulatedCameraOptions options;
    int width = 0, height = 0;
    int colorMode = 0;
    std::map<int, ImageMemory> memories;
    int activeId = -1;
    PictureSettings picture;
    // Tiles of the three surfaces in the frame's layout, rebuilt when the settings change.
    PictureSettings tilesFor;
    int tilesBits = 0;
    std::vector<unsigned char> facetTile, girdleTile;
    std::array<unsigned char, 4> edgePixel{}, markPixel{};
    // Through explicit optics: the scene's luminance before the picture settings, and the
    // number of frames filmed, which seeds each frame's own noise.
    std::vector<float> luminance;
    std::uint32_t framesFilmed = 0;
};

struct Registry {
    std::mutex mutex;
    SimulatedCameraOptions options;
    std::map<HIDS, SimCamera> cameras;
    HIDS nextHandle = 1;
    int nextMemoryId = 1;
    bool lost = false; // the cameras are gone from the bus: every call on one fails
};

Registry& registry()
{
    static Registry r;
    return r;
}

SimCamera* cameraOf(HIDS h)
{
    auto& cams = registry().cameras;
    const auto it = cams.find(h);
    return it == cams.end() ? nullptr : &it->second;
}

int toneCurve(int lum, const PictureSettings& p)
{
    double v;
    if (p.autoGain) {
        const double gain = std::clamp(p.reference, 1.0, 255.0) / kSceneMean;
        v = std::clamp(lum * gain / 255.0, 0.0, 1.0);
        v = 255.0 * std::pow(v, std::max(p.gamma, 1) / 100.0);
    } else {
        v = (lum - 128) * (p.contrast / 291.0) + 128 + (p.brightness - 128);
    }
    return std::clamp(int(std::lround(v)), 0, 255);
}

void rebuildTiles(SimCamera& cam, int bits)
{
    if (cam.tilesBits == bits && cam.tilesFor == cam.picture && !cam.facetTile.empty())
        return;
    const int bpp = frameBytesPerPixel(bits);
    const bool mono = cam.options.monochrome || bits == 8;
    std::array<int, 256> curve{};
    for (int i = 0; i < 256; ++i)
        curve[size_t(i)] = toneCurve(i, cam.picture);
    auto fill = [&](std::vector<unsigned char>& tile, int tone) {
        tile.assign(size_t(kTile * kTile * bpp), 0);
        const auto& g = grain();
        for (int i = 0; i < kTile * kTile; ++i)
            encodePixel(curve[size_t(std::clamp(tone + g[size_t(i)], 0, 255))], mono, bits, &tile[size_t(i * bpp)]);
    };
    fill(cam.facetTile, kFacetTone);
    fill(cam.girdleTile, kGirdleTone);
    encodePixel(curve[kEdgeTone], mono, bits, cam.edgePixel.data());
    encodePixel(curve[kMarkTone], mono, bits, cam.markPixel.data());
    cam.tilesFor = cam.picture;
    cam.tilesBits = bits;
}

// Where the table stands and which marks it carries.
void tableState(const SimulatedCameraOptions& o, TCoord& table, std::vector<LaserMark>& marks)
{
    marks = o.extraMarks;
    if (o.tableMm) {
        table = *o.tableMm;
        return;
    }
    const auto sim = currentDmcSimulator();
    const DmcWiring w = sim->wiring();
    table.X = double(sim->referencePosition('X')) / w.xyCountsPerMm * (w.xReversed ? -1 : 1);
    table.Y = double(sim->referencePosition('Y')) / w.xyCountsPerMm * (w.yReversed ? -1 : 1);
    const auto own = sim->marks();
    marks.insert(marks.end(), own.begin(), own.end());
}

// Films the stone into the memory: rows of the surface tiles shifted with the table, the
// girdle band's edges, then every mark as a dark spot.
void film(SimCamera& cam, ImageMemory& mem)
{
    const int bpp = frameBytesPerPixel(mem.bits);
    if (bpp == 0 || mem.width <= 0 || mem.height <= 0)
        return;
    rebuildTiles(cam, mem.bits);
    const TSettings& s = Settings();
    const SimulatedCameraOptions& o = cam.options;
    const double sx = s.VideoScale;
    const double sy = s.VideoScale * s.VideoAspect / 100.0;
    // The laser spot: the cross hair, moved with the frame's centre onto the picture's centre.
    const int lx = mem.width / 2 + s.CrossHairX - o.paintArea.width() / 2;
    const int ly = mem.height / 2 + s.CrossHairY - o.paintArea.height() / 2;
    TCoord table;
    std::vector<LaserMark> marks;
    tableState(o, table, marks);
    const double girdleY = o.girdleCentreYMm.value_or(s.StartUp_Y);
    const double g = GirdleHeight();
    // Frame rows of the girdle band's upper and lower edge (stone Y grows upwards).
    const double upper = ly + (table.Y - (girdleY + g / 2)) * sy;
    const double lower = ly + (table.Y - (girdleY - g / 2)) * sy;
    const long long rowTop = std::llround(std::min(upper, lower));
    const long long rowBottom = std::llround(std::max(upper, lower));
    const long long shiftX = std::llround(table.X * sx) - lx;
    const long long shiftY = std::llround(-table.Y * sy) - ly;
    const int tileRowBytes = kTile * bpp;
    const int col0 = int(((shiftX % kTile) + kTile) % kTile);
    for (int y = 0; y < mem.height; ++y) {
        unsigned char* line = reinterpret_cast<unsigned char*>(mem.bytes.data()) + size_t(y) * size_t(mem.pitch);
        if (y == rowTop || y == rowTop + 1 || y == rowBottom || y == rowBottom - 1) {
            for (int x = 0; x < mem.width; ++x)
                std::memcpy(line + x * bpp, cam.edgePixel.data(), size_t(bpp));
            continue;
        }
        const bool inBand = y > rowTop && y < rowBottom;
        const auto& tile = inBand ? cam.girdleTile : cam.facetTile;
        const int tileRow = int((((y + shiftY) % kTile) + kTile) % kTile);
        const unsigned char* src = tile.data() + size_t(tileRow) * size_t(tileRowBytes);
        int x = 0, col = col0;
        while (x < mem.width) {
            const int n = std::min(kTile - col, mem.width - x);
            std::memcpy(line + x * bpp, src + col * bpp, size_t(n * bpp));
            x += n;
            col = 0;
        }
    }
    const double defocus = std::max(1.0, o.markDefocus);
    const int radius = std::max(1, int(std::lround(kSpotRadiusMm * defocus * std::abs(sx))));
    std::array<unsigned char, 4> markPixel = cam.markPixel;
    if (defocus > 1) {
        const bool mono = cam.options.monochrome || mem.bits == 8;
        const int tone = int(std::lround(kGirdleTone + (kMarkTone - kGirdleTone) / defocus));
        encodePixel(toneCurve(tone, cam.picture), mono, mem.bits, markPixel.data());
    }
    for (const LaserMark& m : marks) {
        const double px = lx + (m.xMm - table.X) * sx;
        const double py = ly - (m.yMm - table.Y) * sy;
        if (!(px > -radius && py > -radius && px < mem.width + radius && py < mem.height + radius))
            continue;
        const int cx = int(std::lround(px)), cy = int(std::lround(py));
        for (int dy = -radius; dy <= radius; ++dy) {
            const int yy = cy + dy;
            if (yy < 0 || yy >= mem.height)
                continue;
            unsigned char* line = reinterpret_cast<unsigned char*>(mem.bytes.data()) + size_t(yy) * size_t(mem.pitch);
            for (int dx = -radius; dx <= radius; ++dx) {
                const int xx = cx + dx;
                if (xx >= 0 && xx < mem.width && dx * dx + dy * dy <= radius * radius)
                    std::memcpy(line + xx * bpp, markPixel.data(), size_t(bpp));
            }
        }
    }
}

// A hashed value in [-1, 1] for a lattice point: the same point gives the same value in every
// frame, and no two points of a practical table share a pattern, so the texture never repeats.
float latticeValue(std::int64_t ix, std::int64_t iy, std::uint32_t salt)
{
    // Every input passes through its own multiply and mix, so that a change of the salt gives
    // an unrelated pattern rather than the same one moved.
    auto mix = [](std::uint64_t h) {
        h ^= h >> 31;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 29;
        h *= 0x94D049BB133111EBull;
        return h ^ (h >> 32);
    };
    const std::uint64_t h = mix(mix(mix(std::uint64_t(ix) + 0x9E3779B97F4A7C15ull) ^ std::uint64_t(iy)) ^ salt);
    return float(h & 0xFFFF) / 32767.5f - 1.0f;
}

// Value noise sampled bilinearly between lattice points pitchMm apart on the stone.
float valueNoise(double xMm, double yMm, double pitchMm, std::uint32_t salt)
{
    const double fx = xMm / pitchMm, fy = yMm / pitchMm;
    const double x0 = std::floor(fx), y0 = std::floor(fy);
    const float tx = float(fx - x0), ty = float(fy - y0);
    const auto ix = std::int64_t(x0), iy = std::int64_t(y0);
    const float a = latticeValue(ix, iy, salt), b = latticeValue(ix + 1, iy, salt);
    const float c = latticeValue(ix, iy + 1, salt), d = latticeValue(ix + 1, iy + 1, salt);
    return (a + (b - a) * tx) * (1 - ty) + (c + (d - c) * tx) * ty;
}

// Grain of two sizes: fine polish lines a few micrometres apart over a coarser cloudiness.
constexpr double kFineGrainMm = 0.006;
constexpr double kCoarseGrainMm = 0.025;

// Sensor noise of roughly normal distribution (sum of four uniform hashes), mean 0, sd 1.
float sensorNoise(int x, int y, std::uint32_t frame, std::uint32_t seed)
{
    float sum = 0;
    for (std::uint32_t k = 0; k < 4; ++k)
        sum += latticeValue(x, y, seed * 0x9E3779B9u ^ (frame * 4u + k)) * 0.5f;
    return sum * 1.7320508f; // four uniforms of [-0.5, 0.5] have sd 1/sqrt(3)
}

// Films the stone through the simulated optics: every pixel looks up the point of the stone it
// sees (scale, aspect, turn and cross hair of the optics) and samples the texture there, so
// that the picture moves by fractions of a pixel with the table.
void filmThroughOptics(SimCamera& cam, ImageMemory& mem, const SimulatedOptics& op)
{
    const int bpp = frameBytesPerPixel(mem.bits);
    if (bpp == 0 || mem.width <= 0 || mem.height <= 0)
        return;
    const bool mono = cam.options.monochrome || mem.bits == 8;
    std::array<int, 256> curve{};
    for (int i = 0; i < 256; ++i)
        curve[size_t(i)] = toneCurve(i, cam.picture);

    const TSettings& s = Settings();
    const SimulatedCameraOptions& o = cam.options;
    TCoord table;
    std::vector<LaserMark> marks;
    tableState(o, table, marks);
    const double girdleY = o.girdleCentreYMm.value_or(s.StartUp_Y);
    const double g = GirdleHeight();

    const double sx = op.scalePxPerMm > 0 ? op.scalePxPerMm : 1.0;
    const double sy = sx * (op.aspectPercent > 0 ? op.aspectPercent : 100.0) / 100.0;
    const double c = std::cos(op.rotationDeg * std::numbers::pi / 180.0), sn = std::sin(op.rotationDeg * std::numbers::pi / 180.0);
    // Frame pixel of the laser spot: the picture's centre meets the frame's centre.
    const double lx = mem.width / 2 + op.crossHairPx.x() - o.paintArea.width() / 2;
    const double ly = mem.height / 2 + op.crossHairPx.y() - o.paintArea.height() / 2;
    // Stone point seen at a frame pixel, relative to the table point under the laser.
    auto stoneOffset = [&](double x, double y) {
        const double a = (x - lx) / sx, b = (ly - y) / sy;
        return TCoord{c * a + sn * b, -sn * a + c * b};
    };
    // Where a stone offset appears in the frame (the inverse of stoneOffset).
    auto framePoint = [&](double dx, double dy) {
        return TCoord{lx + sx * (c * dx - sn * dy), ly - sy * (sn * dx + c * dy)};
    };

    cam.luminance.resize(size_t(mem.width) * size_t(mem.height));
    const TCoord stepX{c / sx, -sn / sx};
    for (int y = 0; y < mem.height; ++y) {
        TCoord p = stoneOffset(0, y);
        float* row = cam.luminance.data() + size_t(y) * size_t(mem.width);
        for (int x = 0; x < mem.width; ++x, p.X += stepX.X, p.Y += stepX.Y) {
            const double X = table.X + p.X, Y = table.Y + p.Y;
            // Distance to the nearer girdle edge in picture rows; the edges are two rows wide.
            const double fromCentre = std::abs(Y - girdleY);
            const double edgeRows = std::abs(fromCentre - g / 2) * sy;
            float lum;
            if (edgeRows < 1.0) {
                lum = kEdgeTone;
            } else {
                const float grain = 0.6f * valueNoise(X, Y, kFineGrainMm, 17) + 0.4f * valueNoise(X, Y, kCoarseGrainMm, 29);
                lum = float(fromCentre < g / 2 ? kGirdleTone : kFacetTone) + kTextureAmplitude * 1.6f * grain;
            }
            row[x] = lum;
        }
    }

    // Marks as discs, their rims shaded by the part of a pixel they cover.
    struct Disc {
        TCoord centre;
        double radiusMm;
        float strength;
    };
    const double defocus = std::max(1.0, o.markDefocus);
    std::vector<Disc> discs;
    discs.reserve(marks.size() + 1);
    for (const LaserMark& m : marks)
        discs.push_back({{m.xMm, m.yMm}, kSpotRadiusMm * defocus, float(1 / defocus)});
    if (o.testMark)
        discs.push_back({o.testMark->centreMm, o.testMark->radiusMm, 1.0f});
    const double pxPerMm = std::max(sx, sy);
    for (const Disc& d : discs) {
        const TCoord centre = framePoint(d.centre.X - table.X, d.centre.Y - table.Y);
        const double reach = d.radiusMm * pxPerMm + 1.5;
        if (!(centre.X > -reach && centre.Y > -reach && centre.X < mem.width + reach && centre.Y < mem.height + reach))
            continue;
        const int x0 = std::max(0, int(std::floor(centre.X - reach))), x1 = std::min(mem.width - 1, int(std::ceil(centre.X + reach)));
        const int y0 = std::max(0, int(std::floor(centre.Y - reach))), y1 = std::min(mem.height - 1, int(std::ceil(centre.Y + reach)));
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const TCoord p = stoneOffset(x, y);
                const double dist = std::hypot(table.X + p.X - d.centre.X, table.Y + p.Y - d.centre.Y);
                const float cover = d.strength * float(std::clamp(0.5 + (d.radiusMm - dist) * pxPerMm, 0.0, 1.0));
                float& lum = cam.luminance[size_t(y) * size_t(mem.width) + size_t(x)];
                lum += (float(kMarkTone) - lum) * cover;
            }
    }

    const std::uint32_t frame = cam.framesFilmed++;
    const float noise = float(std::max(0.0, op.noiseGreyLevels));
    for (int y = 0; y < mem.height; ++y) {
        unsigned char* line = reinterpret_cast<unsigned char*>(mem.bytes.data()) + size_t(y) * size_t(mem.pitch);
        const float* row = cam.luminance.data() + size_t(y) * size_t(mem.width);
        for (int x = 0; x < mem.width; ++x) {
            float lum = row[x];
            if (noise > 0)
                lum += noise * sensorNoise(x, y, frame, op.noiseSeed);
            const int level = std::clamp(int(std::lround(lum)), 0, 255);
            encodePixel(curve[size_t(level)], mono, mem.bits, line + x * bpp);
        }
    }
}

// --- the library's calls

int simInitCamera(HIDS* phCam, void*)
{
    auto& r = registry();
    const std::lock_guard lock(r.mutex);
    if (!phCam || r.options.initFails)
        return ueye::kNoSuccess;
    const HIDS h = r.nextHandle++;
    SimCamera& cam = r.cameras[h];
    cam.options = r.options;
    cam.width = cam.options.sensorWidth;
    cam.height = cam.options.sensorHeight;
    *phCam = h;
    return ueye::kSuccess;
}

template <typename F>
int withCamera(HIDS h, F f)
{
    auto& r = registry();
    const std::lock_guard lock(r.mutex);
    SimCamera* cam = r.lost ? nullptr : cameraOf(h);
    return cam ? f(*cam) : ueye::kNoSuccess;
}

int simSetDisplayMode(HIDS h, int)
{
    return withCamera(h, [](SimCamera& c) { return c.options.configureFails ? ueye::kNoSuccess : ueye::kSuccess; });
}

int simSetErrorReport(HIDS h, int)
{
    return withCamera(h, [](SimCamera&) { return ueye::kSuccess; });
}

int simGetSensorInfo(HIDS h, SENSORINFO* info)
{
    return withCamera(h, [info](SimCamera& c) {
        if (!info)
            return ueye::kNoSuccess;
        *info = SENSORINFO{};
        std::strncpy(info->strSensorName, "SIM-CAM", sizeof(info->strSensorName) - 1);
        info->nColorMode = c.options.monochrome ? ueye::kColorModeMonochrome : 2;
        info->nMaxWidth = std::uint32_t(std::max(0, c.options.sensorWidth));
        info->nMaxHeight = std::uint32_t(std::max(0, c.options.sensorHeight));
        info->wPixelSize = 465;
        return ueye::kSuccess;
    });
}

int simSetImageSize(HIDS h, int x, int y)
{
    return withCamera(h, [x, y](SimCamera& c) {
        if (x == ueye::kGetImageSizeX)
            return c.width;
        if (x == ueye::kGetImageSizeY)
            return c.height;
        c.width = std::clamp(x, 0, c.options.sensorWidth);
        c.height = std::clamp(y, 0, c.options.sensorHeight);
        return ueye::kSuccess;
    });
}

int simSetAOI(HIDS h, int, int* px, int* py, int* pw, int* ph)
{
    return withCamera(h, [=](SimCamera& c) {
        if (!px || !py || !pw || !ph)
            return ueye::kNoSuccess;
        *px = std::clamp(*px, 0, c.options.sensorWidth);
        *py = std::clamp(*py, 0, c.options.sensorHeight);
        *pw = std::clamp(*pw, 0, c.options.sensorWidth - *px);
        *ph = std::clamp(*ph, 0, c.options.sensorHeight - *py);
        c.width = *pw;
        c.height = *ph;
        return ueye::kSuccess;
    });
}

int simGetColorDepth(HIDS h, int* pBits, int* pMode)
{
    return withCamera(h, [=](SimCamera& c) {
        if (!pBits || !pMode)
            return ueye::kNoSuccess;
        *pBits = c.options.bitsPerPixel;
        *pMode = c.options.monochrome ? 6 : (c.options.bitsPerPixel == 24 ? 1 : 0);
        return ueye::kSuccess;
    });
}

int simAllocImageMem(HIDS h, int width, int height, int bits, char** ppMem, int* pId)
{
    return withCamera(h, [=](SimCamera& c) {
        if (!ppMem || !pId || c.options.allocFails || width <= 0 || height <= 0 || bits <= 0 || bits > 64)
            return ueye::kNoSuccess;
        ImageMemory mem;
        mem.width = width;
        mem.height = height;
        mem.bits = bits;
        // Lines start on 4-byte boundaries, as bitmaps want them.
        mem.pitch = (width * ((bits + 7) / 8) + 3) & ~3; // 15-bit pixels take two bytes
        mem.bytes.assign(size_t(mem.pitch) * size_t(height), 0);
        const int id = registry().nextMemoryId++;
        auto& stored = c.memories[id] = std::move(mem);
        *ppMem = stored.bytes.data();
        *pId = id;
        return ueye::kSuccess;
    });
}

ImageMemory* memoryOf(SimCamera& c, const char* mem, int id)
{
    const auto it = c.memories.find(id);
    if (it == c.memories.end() || it->second.bytes.data() != mem)
        return nullptr;
    return &it->second;
}

int simSetImageMem(HIDS h, char* mem, int id)
{
    return withCamera(h, [=](SimCamera& c) {
        if (!memoryOf(c, mem, id))
            return ueye::kNoSuccess;
        c.activeId = id;
        return ueye::kSuccess;
    });
}

int simSetColorMode(HIDS h, int mode)
{
    return withCamera(h, [mode](SimCamera& c) {
        c.colorMode = mode;
        return ueye::kSuccess;
    });
}

int simSetWhiteBalance(HIDS h, int)
{
    return withCamera(h, [](SimCamera&) { return ueye::kSuccess; });
}

int simSetAutoParameter(HIDS h, int param, double* v1, double*)
{
    return withCamera(h, [=](SimCamera& c) {
        if (!v1)
            return ueye::kNoSuccess;
        if (param == ueye::kSetEnableAutoGain)
            c.picture.autoGain = *v1 != 0;
        else if (param == ueye::kSetAutoReference)
            c.picture.reference = std::clamp(*v1, 0.0, 255.0);
        return ueye::kSuccess;
    });
}

int simSetBrightness(HIDS h, int v)
{
    return withCamera(h, [v](SimCamera& c) {
        if (v == ueye::kGetBrightness)
            return c.picture.brightness;
        c.picture.brightness = std::clamp(v, 0, 255);
        return ueye::kSuccess;
    });
}

int simSetContrast(HIDS h, int v)
{
    return withCamera(h, [v](SimCamera& c) {
        if (v == ueye::kGetContrast)
            return c.picture.contrast;
        c.picture.contrast = std::clamp(v, 0, 511);
        return ueye::kSuccess;
    });
}

int simSetGamma(HIDS h, int v)
{
    return withCamera(h, [v](SimCamera& c) {
        c.picture.gamma = std::clamp(v, 1, 1000);
        return ueye::kSuccess;
    });
}

int simFreezeVideo(HIDS h, int)
{
    return withCamera(h, [](SimCamera& c) {
        const auto it = c.memories.find(c.activeId);
        if (it == c.memories.end())
            return ueye::kNoSuccess;
        if (c.options.optics)
            filmThroughOptics(c, it->second, *c.options.optics);
        else
            film(c, it->second);
        return ueye::kSuccess;
    });
}

int simIsVideoFinish(HIDS h, int* p)
{
    return withCamera(h, [p](SimCamera&) {
        if (p)
            *p = 1;
        return ueye::kSuccess;
    });
}

int simInquireImageMem(HIDS h, char* mem, int id, int* pX, int* pY, int* pBits, int* pPitch)
{
    return withCamera(h, [=](SimCamera& c) {
        const ImageMemory* m = memoryOf(c, mem, id);
        if (!m)
            return ueye::kNoSuccess;
        if (pX)
            *pX = m->width;
        if (pY)
            *pY = m->height;
        if (pBits)
            *pBits = m->bits;
        if (pPitch)
            *pPitch = m->pitch;
        return ueye::kSuccess;
    });
}

int simSaveImageEx(HIDS h, const char* file, int format, int param)
{
    return withCamera(h, [=](SimCamera& c) {
        const auto it = c.memories.find(c.activeId);
        if (format != ueye::kImageFileJpeg || it == c.memories.end())
            return ueye::kNoSuccess;
        const ImageMemory& m = it->second;
        return saveImageMemoryAsJpeg(file, param, m.bytes.data(), m.width, m.height, m.pitch, m.bits);
    });
}

int simFreeImageMem(HIDS h, char* mem, int id)
{
    return withCamera(h, [=](SimCamera& c) {
        if (!memoryOf(c, mem, id))
            return ueye::kNoSuccess;
        c.memories.erase(id);
        if (c.activeId == id)
            c.activeId = -1;
        return ueye::kSuccess;
    });
}

int simExitCamera(HIDS h)
{
    auto& r = registry();
    const std::lock_guard lock(r.mutex);
    return r.cameras.erase(h) ? ueye::kSuccess : ueye::kNoSuccess;
}

UEyeApi makeApi()
{
    UEyeApi a;
    a.is_InitCamera = simInitCamera;
    a.is_SetDisplayMode = simSetDisplayMode;
    a.is_SetErrorReport = simSetErrorReport;
    a.is_GetSensorInfo = simGetSensorInfo;
    a.is_SetImageSize = simSetImageSize;
    a.is_SetAOI = simSetAOI;
    a.is_GetColorDepth = simGetColorDepth;
    a.is_AllocImageMem = simAllocImageMem;
    a.is_SetImageMem = simSetImageMem;
    a.is_SetColorMode = simSetColorMode;
    a.is_SetWhiteBalance = simSetWhiteBalance;
    a.is_SetAutoParameter = simSetAutoParameter;
    a.is_SetBrightness = simSetBrightness;
    a.is_SetContrast = simSetContrast;
    a.is_SetGamma = simSetGamma;
    a.is_FreezeVideo = simFreezeVideo;
    a.is_IsVideoFinish = simIsVideoFinish;
    a.is_InquireImageMem = simInquireImageMem;
    a.is_SaveImageEx = simSaveImageEx;
    a.is_FreeImageMem = simFreeImageMem;
    a.is_ExitCamera = simExitCamera;
    return a;
}

} // namespace

void setSimulatedCameraLost(bool lost)
{
    auto& r = registry();
    const std::lock_guard lock(r.mutex);
    r.lost = lost;
}

void setSimulatedCameraOptions(const SimulatedCameraOptions& options)
{
    auto& r = registry();
    const std::lock_guard lock(r.mutex);
    r.options = options;
    // Cameras already open keep their sensor and faults but film the new scene.
    for (auto& [h, cam] : r.cameras) {
        const SimulatedCameraOptions sensor = cam.options;
        cam.options = options;
        cam.options.sensorWidth = sensor.sensorWidth;
        cam.options.sensorHeight = sensor.sensorHeight;
        cam.options.bitsPerPixel = sensor.bitsPerPixel;
        cam.options.monochrome = sensor.monochrome;
    }
}

SimulatedCameraOptions simulatedCameraOptions()
{
    auto& r = registry();
    const std::lock_guard lock(r.mutex);
    return r.options;
}

ScopedSimulatedCamera::ScopedSimulatedCamera(const SimulatedCameraOptions& options)
    : m_previous(simulatedCameraOptions())
{
    setSimulatedCameraOptions(options);
}

ScopedSimulatedCamera::~ScopedSimulatedCamera()
{
    setSimulatedCameraLost(false);
    setSimulatedCameraOptions(m_previous);
}

const UEyeApi& simulatedCameraApi()
{
    static const UEyeApi api = makeApi();
    return api;
}

std::optional<std::vector<LaserMark>> readMarksCsv(const QString& path, QString* error)
{
    auto fail = [&](const QString& why) -> std::optional<std::vector<LaserMark>> {
        if (error)
            *error = why;
        return std::nullopt;
    };
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return fail(QStringLiteral("cannot read \"%1\": %2").arg(path, file.errorString()));
    // Lines are read no further than a line of marks can be long and the marks no further than a
    // run can make: a device that never ends (/dev/zero) or a line without an end is refused
    // instead of read until memory runs out.
    constexpr qint64 kMaxLineBytes = 256;
    constexpr std::size_t kMaxMarks = 20'000'000;
    const auto lineTooLong = [](const QByteArray& raw) { return raw.size() >= kMaxLineBytes - 1 && !raw.endsWith('\n'); };
    const QByteArray rawHeader = file.readLine(kMaxLineBytes);
    const QByteArray header = rawHeader.trimmed();
    if (lineTooLong(rawHeader) || !header.startsWith("x_mm,y_mm,z_mm"))
        return fail(QStringLiteral("\"%1\" is not a list of marks").arg(path));
    std::vector<LaserMark> marks;
    int lineNo = 1;
    while (!file.atEnd()) {
        ++lineNo;
        const QByteArray raw = file.readLine(kMaxLineBytes);
        if (lineTooLong(raw))
            return fail(QStringLiteral("\"%1\" line %2 is longer than a line of marks").arg(path).arg(lineNo));
        if (marks.size() >= kMaxMarks)
            return fail(QStringLiteral("\"%1\" holds more than %2 marks").arg(path).arg(kMaxMarks));
        const QByteArray line = raw.trimmed();
        if (line.isEmpty()) {
            // A read that gives nothing at all ends a device that never says it is at its end.
            if (raw.isEmpty())
                break;
            continue;
        }
        const QList<QByteArray> f = line.split(',');
        bool okX = false, okY = false, okZ = false;
        LaserMark m;
        if (f.size() >= 3) {
            m.xMm = f[0].toDouble(&okX);
            m.yMm = f[1].toDouble(&okY);
            m.zMm = f[2].toDouble(&okZ);
        }
        if (!okX || !okY || !okZ || !std::isfinite(m.xMm) || !std::isfinite(m.yMm))
            return fail(QStringLiteral("\"%1\" line %2: expected x_mm,y_mm,z_mm").arg(path).arg(lineNo));
        if (f.size() >= 4)
            m.timeUs = f[3].toLongLong();
        if (f.size() >= 5 && f[4].trimmed() == "gated")
            m.kind = LaserMarkKind::Gated;
        marks.push_back(m);
    }
    return marks;
}

} // namespace lapido
