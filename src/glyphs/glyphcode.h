// TGlyphCode: a 2D code (Data Matrix ECC200 or QR) in the label, its modules marked as laser
// pulses; the encoding and the planning of the pulses, which the inspection shares.
#pragma once

#include "glyphs/glyph.h"

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace lapido {

enum class TCodeSymbology { DataMatrix, DataMatrixRect, QR };
// How one dark module is marked: one pulse at its centre, or a square of pulses at the pulse
// distance filling it (the outer pulses' spots end at the module's edge).
enum class TCodeModuleMarking { OnePulse, PulseSquare };

// The names the label file and the panel use: "DataMatrix", "DataMatrixRect", "QR";
// "OnePulse", "PulseSquare".
QString symbologyName(TCodeSymbology symbology);
std::optional<TCodeSymbology> symbologyFromName(const QString& name);
QString moduleMarkingName(TCodeModuleMarking marking);
std::optional<TCodeModuleMarking> moduleMarkingFromName(const QString& name);

// The modules of a symbol without its quiet zone; row 0 is the top row as the code is read.
struct CodeMatrix {
    int rows = 0;
    int cols = 0;
    std::vector<std::uint8_t> dark; // rows * cols, row-major, 1 = dark (marked)
    bool at(int row, int col) const { return dark[std::size_t(row) * std::size_t(cols) + std::size_t(col)] != 0; }
    int darkCount() const;
    bool operator==(const CodeMatrix&) const = default;
};

struct CodeEncoding {
    std::optional<CodeMatrix> matrix;
    QString error; // why there is no matrix
};

// The symbol for a content (encoded as UTF-8): Data Matrix ECC200 through libdmtx (square or
// rectangular sizes), QR through libqrencode (error correction level M).
CodeEncoding encodeCode(TCodeSymbology symbology, const QString& content);

// What a code may hold; more would not fit a girdle at any module size the laser resolves.
namespace codelimits {
inline constexpr int kMaxContentChars = 400;
inline constexpr double kMinModuleUm = 1;
inline constexpr double kMaxModuleUm = 1000;
inline constexpr int kMaxQuietModules = 10;
} // namespace codelimits

// The geometry of a code on the stone.
struct CodeLayout {
    double moduleUm = 20;
    int quietModules = 2;
    TCodeModuleMarking marking = TCodeModuleMarking::OnePulse;
    double spotUm = 10;
    double pulseDistanceUm = 0.5;
    // The narrowest module whose pulses stay apart from the next module's: the spot plus one
    // pulse distance.
    double minModuleUm() const { return spotUm + pulseDistanceUm; }
};

// The pulse positions inside one module, µm from its centre, x to the right and y downwards.
std::vector<std::pair<double, double>> modulePulseOffsetsUm(const CodeLayout& layout);

// One row of pulses, µm from the top-left corner of the quiet zone (x right, y down), left to right.
struct CodeDotRow {
    double yUm = 0;
    std::vector<double> xUm;
};
// Every pulse of a code, row by row from the top; rows without pulses are left out.
std::vector<CodeDotRow> planCodeDots(const CodeMatrix& matrix, const CodeLayout& layout);

class TGlyphCode : public TGlyph {
public:
    TGlyphCode(TLabelTree* ATreeView, TTreeNode* ATreeNode, const QString& AContent, TCodeSymbology ASymbology,
               double AModuleUm, int AQuietModules, TCodeModuleMarking AMarking, double AOffset);

    void UpDate(const QString& AContent, TCodeSymbology ASymbology, double AModuleUm, int AQuietModules,
                TCodeModuleMarking AMarking, double AOffset);

    void Paint(QPainter& Canvas, const TXYTransform& XYTF) override;
    void DrawFrame(QPainter& Canvas, const TXYTransform& XYTF) override;
    void ExtendMarkingRect(const TXYTransform& XYTF, TCoord& MinValues, TCoord& MaxValues) override;
    void Mark(const TXYTransform& XYTF) override;
    double Width() const override;
    // The serial step of the content, as a label counts on.
    void Increment() override;
    QString MarkingProblem() const override;

    // The code's size, quiet zone included: in modules, in mm, and its height in glyph units
    // (the module size is fixed in µm, so the code keeps its size when the girdle changes).
    int rowsWithQuietZone() const;
    int colsWithQuietZone() const;
    double heightMm() const;
    double widthMm() const;
    double heightUnits() const;
    // Where module (row, col) of the symbol has its centre, in glyph units, for a code laid out
    // from the layout walk's position when the code's turn comes.
    TCoord moduleCentre(const TCoord& position, int row, int col) const;
    CodeLayout layout() const;

    QString Content;
    TCodeSymbology Symbology = TCodeSymbology::DataMatrix;
    double ModuleUm = 20;
    int QuietModules = 2;
    TCodeModuleMarking ModuleMarking = TCodeModuleMarking::OnePulse;
    // The content follows the scanned code (as a label does when the scanner hands one over).
    bool FromScannedCode = false;
    std::optional<CodeMatrix> Matrix;
    QString EncodeError;

    // Where the last Mark (a run or its rehearsal) put the modules, in machine mm: the centre of
    // module (0, 0) and the steps to the next column and row. The inspection reads the code there.
    struct PlacedGrid {
        TCoord origin, colStep, rowStep;
        bool valid = false;
    };
    PlacedGrid Placed;
    // How far a module's pulses reach from its centre to the outermost pulse's centre (µm).
    double pulseSpanUm() const;

private:
    void syncSize();
    double top(double y) const;
};

} // namespace lapido
