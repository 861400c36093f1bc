// 2D codes read back from the camera picture and graded in the manner of the direct-part-mark
// guideline: decode, cell contrast, fixed-pattern damage, axial and grid nonuniformity, and the
// overall grade as the worst of them.
#pragma once

#include "geometry/xytransform.h"

#include <QImage>
#include <QString>

#include <cstdint>
#include <vector>

namespace lapido {

struct InspectionView;
struct InspectionPlan;
struct InspectionLimits;
struct InspectionResult;

// A code as the run planned it: its modules and where each one's centre lies on the machine.
struct PlannedCode {
    QString content;
    bool qr = false;      // QR; otherwise Data Matrix
    int rows = 0, cols = 0; // modules of the symbol, quiet zone not included
    std::vector<std::uint8_t> dark; // rows * cols, row-major, row 0 at the top; 1 = marked
    TCoord originMm;      // centre of module (0, 0), the top-left one
    TCoord colStepMm;     // from a module to the next one to its right
    TCoord rowStepMm;     // from a module to the one below it
    double moduleUm = 20;
    int quietModules = 2;
    // How far the pulses of one module reach from its centre to the outermost pulse's centre
    // (0 for one pulse a module).
    double pulseSpanUm = 0;
    bool at(int row, int col) const { return dark[std::size_t(row) * std::size_t(cols) + std::size_t(col)] != 0; }
};

// Grades 'A' (best) to 'D', and 'F' (fail).
struct CodeGrade {
    bool graded = false;     // false when the code lies outside the picture
    bool decoded = false;
    QString text;            // what the reader read
    bool matches = false;    // the read text is the planned content
    double cellContrast = 0; // (mean light - mean dark) / mean light, 0 to 1
    int damagedFixedModules = 0; // in the worst segment of the finder and clock patterns
    double axialNonuniformity = 0; // |column pitch - row pitch| / mean pitch
    double gridNonuniformity = 0;  // largest distance of a module from the fitted grid, in modules
    int moduleErrors = 0;          // modules read the other way than planned (for the log)
    char decodeGrade = 'F', contrastGrade = 'F', fixedPatternGrade = 'F', axialGrade = 'F', gridGrade = 'F';
    char overall = 'F';
    // "grade B (decode A, cell contrast B 27 %, fixed pattern A, axial nonuniformity A 0.01,
    // grid nonuniformity A 0.21), reads \"2141234567\"".
    QString line() const;
};

// The grading thresholds of the guideline.
char contrastGradeOf(double cellContrast);
char fixedPatternGradeOf(int damagedModules);
char axialGradeOf(double axialNonuniformity);
char gridGradeOf(double gridNonuniformity);

// Reads and grades one code. offsetUm is where the registration found the code against its
// plan (x right, y up); dotUm the width of one mark as the picture shows it.
CodeGrade gradeCode(const PlannedCode& code, const QImage& picture, const InspectionView& view, const TCoord& offsetUm,
                    double dotUm);

// Reads and grades every code of an inspected run and judges it: a code fails when it does not
// read, reads other than its content or grades below the limits' minimum. Its coverage and
// spread are not held against it: a code is as good as it reads, its error correction covers
// the odd missing mark.
void gradeCodes(const InspectionPlan& plan, const QImage& picture, const InspectionView& view,
                const InspectionLimits& limits, InspectionResult& result);

} // namespace lapido
