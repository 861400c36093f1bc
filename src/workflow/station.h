// TStation: the behaviour of the station's main window as a model without widgets. Every
// operator command of the main window is an operation here; the window only presents the
// state (edit texts, enabled and visible flags, the label tree) and forwards clicks and keys.
// The operator's answers come through operatorDialogs().
#pragma once

#include "geometry/xytransform.h"
#include "glyphs/fontstyles.h"
#include "glyphs/glyphcode.h"
#include "glyphs/labeltree.h"
#include "glyphs/legibility.h"
#include "inspection/inspection.h"
#include "workflow/keyrouter.h"

#include <QImage>
#include <QString>
#include <Qt>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace lapido {

class DocumentRichEdit;
class FileLogger;
class TDataModule1;
class TGlyph;
struct TLabelXmlItem;
class TGlyphPhoto;
class TGlyphRichString;
class TTemplateList;
class TLaser;
struct TMarkingPreview;

enum class TAIMState { aimsHoming, aimsToAlign, aimsAligning, aimsInspecting, aimsMarking };

struct TCircleCoord {
    double X = 0;
    double Y = 0;
    bool XIsSet = false;
    bool YIsSet = false;
};

// The numeric edit boxes of the main window (EditFloatChange is shared by all of them).
enum class TEditBox {
    EditDiam,
    EditGirdle,
    EditSlant,
    EditGlyphLabelHeight,
    EditGlyphLabelOffset,
    EditGlyphLabelSpacing,
    EditGlyphTextHeight,
    EditGlyphTextOffset,
    EditGlyphTextSpacing,
    EditGlyphSymbolsHeight,
    EditGlyphSymbolsOffset,
    EditGlyphSymbolsSpacing,
    EditGlyphSpaceWidth,
    EditGlyphLogoHeight,
    EditGlyphLogoOffset,
    EditGlyphPhotoHeight,
    EditGlyphPhotoOffset,
    Edit_PulseTrainRate,
    EditGrid,
    Count
};

// An edit box as the model holds it: the text as typed and whether it is shown red (refused).
struct TEditText {
    QString text;
    bool refused = false;
};

// Which property panel the window shows for the selected node.
enum class TPropertyPanel { None, Label, Text, Symbols, Char, Space, Logo, Photo, Code };

// The main window's speed buttons of the Align / Inspect / Engrave group.
enum class TSpeedButton { Align, Inspect, Mark };

// Enabled, visible and down states of the main window's controls, as SetAIMSState and the
// tree's change handler decide them; the window copies them onto its widgets.
struct TStationControls {
    bool addButtons = true;            // the six "Add" buttons
    bool propertyPanels = true;        // the property group boxes
    bool girdleAndSlant = true;        // GroupBoxGirdle, GroupBoxSlant, EditGirdle, EditSlant
    bool speedButtonAlign = true;
    bool speedButtonInspect = false;
    bool speedButtonMark = false;      // enabled
    bool speedButtonMarkVisible = true; // hidden by the blower interlock
    TSpeedButton down = TSpeedButton::Align;
    bool bitBtnReset = true;           // enabled
    bool bitBtnResetVisible = true;
    bool bitBtn3Visible = false;       // "Go to Start"
    bool bitBtnSettings = true;
    bool bitBtnSettingsVisible = true;
    bool bitBtnExit = true;
    bool bitBtnEditSymbolList = true;
    bool bitBtnLogos = true;
    bool comboBoxTemplates = false;
    bool templateSave = false;         // BitBtn1
    bool templateLoad = false;         // BitBtn2
    bool templateClose = false;        // BitBtn4
    bool roundAndDiameter = false;     // RadioButtonRound, EditDiam
    bool gotoStandby = false;          // BitBtnGoto1..3
    bool focusLeftCenterRight = false; // BitBtnFocusLeft/Center/Right
    bool setFocus = false;             // BitBtnFocus ("Set Focus")
    bool abort = false;                // BitBtnAbort
    bool taskUp = false, taskDown = false, delTask = false;
    bool circleSet = false, circleGoto = false, circleClear = false;
    bool shootPulses = true;           // the pulse tools' "Shoot" buttons (not during a run)
    bool autoIncChecked = false, autoIncEnabled = true; // CheckBox_AutoInc ("On Reset")
    bool runControlsReadOnly = false;  // a run node of a label is shown read-only
    TPropertyPanel panel = TPropertyPanel::None;
    QString resetCaption;              // BitBtnReset
    QString resetHint;
    QString goToStartCaption;          // BitBtn3
};

// The controls the marking sequence hands the keyboard focus to.
enum class TFocusTarget { Abort, Reset };

// The control under the mouse pointer, as far as the wheel cares.
enum class TWheelControl { None, Girdle, Slant, JogX, JogY, JogZ, JogA, Video };

// Progress of the engraving under way: the glyph being marked (1-based) of the glyphs of the
// label, and when the run began on the station's clock. An Engrave's run spans what the trace
// measures for it: from the laser's enabling to the table's return.
struct TMarkingProgress {
    bool running = false;
    bool aborted = false; // the last run was stopped before its end
    int glyph = 0;
    int glyphCount = 0;
    std::int64_t startMs = 0;
    std::int64_t endMs = 0; // the end of the last run (0 while one runs)
    std::int64_t glyphStartMs = 0; // when the glyph being marked began
};

// The glyph being marked measured against the run's estimate: the share of it done (0..1, never
// 1 before it ends) and the time the run still needs, in seconds.
struct TGlyphProgress {
    double share = 0;
    double secondsLeft = 0;
    double glyphSeconds = 0; // how long the estimate gives the glyph
};

// The outside services the station uses; the app installs the real ones, tests their own.
struct TStationServices {
    FileLogger* logger = nullptr;        // trace file (FileLogger::GetInstance() when null)
    TDataModule1* dataBase = nullptr;    // marking records (none: nothing recorded)
    // Starts the companion queue application; returns false when it could not be started.
    std::function<bool(QString& error)> startCompanion;
    // The current picture of the camera, for template snapshots (empty: a grey picture).
    std::function<QImage()> snapshot;
    // Sets the ring light's colour template ("inspection", "holderfree"); none: no light.
    std::function<void(const QString& name)> lightTemplate;
    // Turns the ring light's pattern one step (true: "plus", false: "moins"); none: no light.
    std::function<void(bool plus)> lightRotate;
    // Moves the keyboard focus to a control of the window (none: nothing to move).
    std::function<void(TFocusTarget target)> moveFocus;
    // Shows the label view window (asked at show time when the store says so).
    std::function<void()> showLabelView;
    // Selects and configures the stored laser source (none: the machine fires without one).
    std::function<void()> applyLaserSettings;
    // The settings' automatic backup, run once when the window is first shown.
    std::function<void()> autoBackup;
    // The laser's shot counters advance with the controller's pulse count. Off for a simulated
    // machine: its shots are not the laser's, and the maintenance figures must stay true.
    bool countShots = true;
    // One command's round trip to the controller on the present link (ms), measured once at
    // start-up: the preview pays it for every command, as a real run does.
    double roundTripMs = 0;
    // The camera's present picture at the station picture's size, without the overlay, for the
    // inspection after a run (none or a null picture: the run is not inspected).
    std::function<QImage()> inspectionPicture;
    // Why the machine cannot mark yet (a device still starting); empty when it can.
    std::function<QString()> notReady;
    // Told the plan of a run (its marks, glyph by glyph) just before the laser goes on.
    std::function<void(const TMarkingPreview& plan)> runPlanned;
};

class TStation {
public:
    explicit TStation(TStationServices services = {});
    ~TStation();
    TStation(const TStation&) = delete;
    TStation& operator=(const TStation&) = delete;

    // --- start and stop (window life cycle, without widgets)
    // Start switches: each argument compared in upper case; "/DEBUG", "/NOHOMING".
    static void ParseStartSwitches(const QStringList& arguments);
    void FormCreate();
    void FormShow();
    // The fonts a label may use, for both font lists of the window (FontNames).
    void LoadFonts();
    QStringList FontNames;
    void FormActivate();
    // Asks "Exit Lapidograph?" when appropriate; true when the station may close. Shuts the
    // machine down and writes the window's settings back.
    bool FormCloseQuery();
    // "$XXXX" per UTF-16 unit, and back in groups of five characters.
    static QString EncodeSymbolList(const QString& symbols);
    static QString DecodeSymbolList(const QString& stored);

    // --- timers
    void TimerLaserTick();       // 50 ms: positions, marking reference, "Set Focus" rule
    void BlowerEnableDisableMarking();
    void FormControlTimerTick(); // 500 ms: "On Reset" enabled unless DeleteLabelAfterF10

    // --- keys and buttons of the main window
    void KeyF9();
    void KeyF10();
    void KeyF11();
    void KeyF12();
    void KeyEsc();
    // Jog keys: axis 'X', 'Y' or 'Z', direction +1/-1, k = 1, 2 (Ctrl) or 4 (Ctrl+Shift).
    void KeyJog(char axis, int direction, int k);
    // Every key the window sees before its controls, with the kind of control that has the
    // focus. One key press does one thing: true when the key is the station's (RouteKey, or
    // the ring-light chord) and must not reach the focused control; false when it is the
    // control's and the station did nothing. While marking, the station's keys other than
    // Esc and the view keys are swallowed and do nothing.
    bool KeyDown(int key, Qt::KeyboardModifiers modifiers, TKeyFocus focus = TKeyFocus::Jog);
    // The distance one jog key moves an axis ('X', 'Y', 'Z') without Ctrl, in mm.
    double JogStep(char axis) const;
    // "Jog X 0.010 Y 0.010 Z 0.005 mm", the steps of the jog keys shown beside the positions.
    QString JogStepText() const;
    // The release of a key; the R key ends the ring-light chord.
    void KeyUp(int key);
    // A wheel step (+1 up, -1 down) over a control: girdle and slant step, jog panels jog,
    // Ctrl over the picture zooms. True when the station used it.
    bool MouseWheel(TWheelControl control, int direction, Qt::KeyboardModifiers modifiers);
    // Middle-button drag over the picture: the two pointer positions already taken back to
    // machine millimetres; only while aligning or inspecting.
    void DragPicture(double fromX, double fromY, double toX, double toY);

    // --- timer plan of the window (milliseconds)
    static constexpr int kPositionTimerMs = 50;
    static constexpr int kBlowerTimerMs = 100;
    static constexpr int kFormControlTimerMs = 500;
    static constexpr int kFirstVideoTickMs = 50;
    static constexpr int kTemplateLoaderMs = 1;
    // The video timer's interval: 50 ms before the first tick, then "VideoRefresh".
    static int VideoTimerInterval(bool afterFirstTick);

    // --- debug panel
    void DebugEcamStopClick();
    void DebugHomeClick();
    void DebugStopClick();
    // "Exit" of the debug panel and "Exit" before homing: controller reset, hardware absent.
    void DebugExitClick();

    // --- the run under way
    const TMarkingProgress& markingProgress() const { return m_progress; }
    // During an Engrave that was estimated, the glyph being marked: nullopt otherwise.
    std::optional<TGlyphProgress> GlyphProgress() const;
    // Milliseconds since the run began (the length of the last run once it ended).
    std::int64_t markingElapsedMs() const;

    // --- the label's history: undo and redo of label edits
    // Records the label as it is now as one step when it differs from the last step recorded
    // (the window calls it after every command and every edit of the label editor).
    void CommitLabelEdit();
    // Ctrl+Z / Ctrl+Shift+Z: the label as it was one step earlier or later; false when there
    // is none (or a run is under way).
    bool LabelUndo();
    bool LabelRedo();
    bool CanUndoLabel() const { return !m_undo.empty(); }
    bool CanRedoLabel() const { return !m_redo.empty(); }
    static constexpr int kLabelHistorySteps = 100;
    // Whether the label differs from the one last loaded from a template or saved as one.
    bool LabelChangedSinceSaved() const;
    // A short message for the status line (a key that did nothing says why); empty when none.
    const QString& StatusMessage() const { return m_statusMessage; }

    // --- label tree and properties
    TLabelTree& TreeViewGlyphs() { return m_tree; }
    DocumentRichEdit& RichEditGlyphLabel() { return *m_richEdit; }
    void BitBtnAddRichEditClick();
    void BitBtnAddTextClick();
    void BitBtnAddSymbolClick();
    void BitBtnAddSpaceClick();
    void BitBtnAddLogoClick();
    void BitBtnAddPhotoClick();
    // "Add Code": a 2D code of the code panel's values.
    void BitBtnAddCodeClick();
    // The code panel's line under its fields: the symbol's size in modules and on the stone, or
    // why the selected code cannot be marked.
    QString CodePanelInfo() const;
    void BitBtnDelTaskClick();
    void BitBtnTaskUpClick();
    void BitBtnTaskDownClick();
    void TreeViewGlyphsChange(TTreeNode* Node);
    void GlyphPropertiesChange();
    // A numeric edit box changed to text: the value rules of the box apply.
    void EditFloatChange(TEditBox box, const QString& text);
    void SpinButtonSizeUpClick();
    void SpinButtonSizeDownClick();
    void SpinButtonSlantUpClick();
    void SpinButtonSlantDownClick();
    void SpinButtonGridUpClick();
    void SpinButtonGridDownClick();
    const TEditText& edit(TEditBox box) const { return m_edits[static_cast<size_t>(box)]; }
    // Millimetre displays (three decimals) of the heights, offsets and widths.
    QString millimetreDisplay(TEditBox box) const;

    QString Tree2XML() const;
    // Replaces the label by the one in the XML text. False (label unchanged) with the reason
    // when the text is not a label, or is a label asking for what cannot be inscribed (a number
    // out of range, more characters than a girdle carries: then refused is set).
    bool XML2Tree(const QString& DocumentLink, QString* error = nullptr, bool* refused = nullptr);
    // The same from the bytes of a label file, decoded as its XML declaration says.
    bool XML2TreeFromBytes(const QByteArray& Document, QString* error = nullptr, bool* refused = nullptr);

    // --- marking sequence
    void SpeedButtonAIMClick(TSpeedButton Sender);
    void SetAIMSState(TAIMState State);
    bool IsThereAnythingToMark();
    double TotalLabelWidth() const;
    void GetMarkingExtends(const TXYTransform& XYTF, TCoord& Pmin, TCoord& PMax);
    void MarkOutLines();
    // One "caption: reason" line per glyph that would not be marked as composed (unknown font,
    // missing or unreadable picture or drawing, a height not above 0, a glyph that would leave
    // fewer marks than it shows: a character without an outline, a drawing with nothing to mark,
    // a size below what the laser resolves), and one for a label holding more characters than a
    // girdle carries; empty when none. Engrave, its preview and lapidograph-cli check and mark
    // all refuse by it.
    QStringList LabelMarkingProblems() const;
    // Whether the label, at the current marking reference and focus curvature, lies inside the
    // work area and its focus inside the Z range.
    bool LabelInsideWorkArea();
    // Every check of Engrave that can refuse the label, run before the machine moves: the
    // label-format filter (the operator may inscribe anyway; a following Engrave does not ask
    // again), the glyphs and the work area. False when the label is refused; the operator is
    // told why.
    bool CheckLabelBeforeMarking();
    // The characters whose strokes the laser cannot keep apart at their marking height, with
    // the spot and pulse distance of the settings; empty when the label passes.
    std::vector<LegibilityFinding> LegibilityFindings() const;
    void BitBtnAbortClick();
    // The label run through the same marking sequence on a simulated controller on virtual
    // time, from the machine's present state (position, laser lines and their delays), with
    // services().roundTripMs per command: the marks and how long the run would take. What the
    // next Engrave marks is previewed (all glyphs when all are marked already). Neither the
    // machine, the label's marking state, the settings store, the counters nor the trace
    // change. A rehearsal of the same label from the same state is not run again: the last one
    // is kept until anything it depends on changes.
    TMarkingPreview PreviewMarking();
    static bool IsAlphabetic(const QString& S);
    static bool IsNumeric(const QString& S);
    static bool IsAlphaNumeric(const QString& S);
    // The label-format filters of the settings applied to a text (first matching rule each).
    struct TLabelFormatVerdict {
        bool lengthFails = false;
        bool typeFails = false;
        bool passes() const { return !lengthFails && !typeFails; }
    };
    static TLabelFormatVerdict CheckLabelFormat(const QString& text);

    // --- focus curvature and positioning
    // Teaches the axes' position as the girdle point on its side of the reference. A point
    // outside the travel of X or Z is refused with a message (false) and nothing changes.
    bool BitBtnFocusClick();
    void SetFocusCurvature();
    double GetFocusHeight(double X) const;
    enum class TLabelEnd { Left, Center, Right };
    void BitBtnGotoLabelLeftCenterOrRightClick(TLabelEnd which);
    void BitBtnGotoClick(int standby); // 1..3
    void BitBtnGoToStartClick();
    void BitBtnResetClick();
    void DelMarking();
    void F12Command();
    enum class TCirclePoint { None, Left, Right, Top, Bottom, Center };
    void RadioButton_CircleClick(TCirclePoint point);
    void ButtonSetCenterClick();
    void BitBtn_CircleGotoClick();
    void BitBtn_CircleClearClick();

    // --- templates
    // The open templates: made by FormCreate once the working folder is known, or when first
    // needed. A station that never shows its templates creates no folder and writes no binding.
    TTemplateList& Templates() { return templateList(); }
    int templateIndex() const { return m_templateIndex; }
    QStringList ComboBoxTemplatesItems() const;
    void ComboBoxTemplatesChange(int index);
    void BitBtnSaveTemplateClick();  // BitBtn1 "Save"
    void BitBtnLoadTemplateClick(const QStringList& checkedNames); // BitBtn2 "Load" + manager
    void BitBtnCloseTemplateClick(); // BitBtn4 "Close"
    void BindTemplateTemporary(int digit); // Ctrl+digit
    void BindTemplatePermanent(int digit); // Ctrl+Alt+digit
    void UseTemplateBinding(int digit);    // Alt+digit

    // --- scanned codes and auto-increment
    void GrabBarCodeFromRegistry();
    void RemoveBarCodeFromRegistry();
    void StartTFApplication();
    void BitBtnIncLabelClick();
    void CheckBox_AutoIncClick(bool checked);

    // --- state (names as the operator's documentation uses them)
    TAIMState AIMState = TAIMState::aimsHoming;
    double AxisPosition_X = 0, AxisPosition_Y = 0, AxisPosition_Z = 0;
    double MarkingReference_X = 0, MarkingReference_Y = 0, MarkingReference_Z = 0;
    double CuvatureLeft_X = 0, CuvatureLeft_Z = 0, CuvatureRight_X = 0, CuvatureRight_Z = 0;
    double Curvature_Interval = 0, Curvature_Span = 0, Curvature_Start = 0;
    double Diameter = 5.0;

    // Glyph defaults and panel values (fractions of the girdle height unless said).
    QString DefaultRichEditFont = QStringLiteral("Arial");
    TFontStyles DefaultRichEditStyle;
    QString TextLabel;                  // EditGlyphTextLabel
    QString TextLabelFont = QStringLiteral("Arial");
    TFontStyles TextLabelStyle;
    QString DefaultSymbolList;
    QString SymbolListFont = QStringLiteral("Arial");
    TFontStyles SymbolListStyle;
    QString DefaultLogoName;
    double LabelHeight = 0.8, LabelOffset = 0, LabelSpacing = 0;
    double TextHeight = 0.8, TextOffset = 0, TextSpacing = 0;
    double SymbolsHeight = 0.8, SymbolsOffset = 0, SymbolsSpacing = 0;
    double SpaceWidth = 0.5;
    double LogoHeight = 0.8, LogoOffset = 0;
    double PhotoHeight = 0.8, PhotoOffset = 0;
    double PhotoGamma = 1.0;            // gamma track bar position / 10
    QString PhotoFileName;              // picture for the next photo (empty: the default picture)
    // The code panel: content, kind, module size (µm), quiet zone (modules), how a module is
    // marked, offset (a fraction of the code's height), whether the content follows scanned codes.
    QString CodeContent = QStringLiteral("0000000001");
    TCodeSymbology CodeSymbology = TCodeSymbology::DataMatrix;
    double CodeModuleUm = 20;
    int CodeQuietModules = 2;
    TCodeModuleMarking CodeModuleMarking = TCodeModuleMarking::OnePulse;
    double CodeOffset = 0;
    bool CodeFromScannedCode = false;
    double GridPitch = 0.5;
    bool ShowGrid = true, ShowOverlay = true, ZoomOut = false;
    QString reportNumber;               // the (normally hidden) report-number box

    // State the station keeps and the window only shows: read here, changed by the station's
    // own handlers.
    double AxisPosition_W() const { return m_axisPositionW; } // the pulse counter's axis
    double Curvature_A() const { return m_curvatureA; }
    double Curvature_B() const { return m_curvatureB; }
    double Curvature_C() const { return m_curvatureC; }
    TTreeNode* MarkingTreeNode() const { return m_markingTreeNode; } // the glyph being marked
    int MarkingStatusIndex() const { return m_markingStatusIndex; } // 0 not processed, 1 processed
    const QString& PhotoDir() const { return m_photoDir; }
    int PulseTrainCount() const { return m_pulseTrainCount; }
    int PulseTrainRate() const { return m_pulseTrainRate; }
    int PulseDuration() const { return m_pulseDuration; }
    TGlyph* GlyphAutoInc() const { return m_glyphAutoInc; } // the label that auto-increments
    // Set while the station itself fills the property panels, so their change handlers stay quiet.
    bool DisableGlyphPropertiesChangeEvent() const { return m_disableGlyphPropertiesChangeEvent; }

    // --- inspection of the inscription after a run (inspectionrun.cpp)
    // The plan of the next Engrave as the inspection reads it: the glyphs that put marks, their
    // marks in machine millimetres, the label's text. Empty when the label would be refused.
    InspectionPlan PlanInspection();
    InspectionPlan InspectionPlanOf(const TMarkingPreview& preview) const;
    // The last run's inspection (none before the first, or when the run was not inspected),
    // and the picture it was made on.
    const std::optional<InspectionResult>& LastInspection() const { return m_lastInspection; }
    const QImage& LastInspectionPicture() const { return m_lastInspectionPicture; }
    // Inspects the picture for the plan, keeps the result and writes it to the trace and the
    // inspection log; the window and the headless run call it after a run.
    const InspectionResult& InspectRun(const InspectionPlan& plan, const QImage& picture);
    // The inspection log beside the trace file.
    QString InspectionLogPath();

    // The outside services; the window completes them after creation (automatic backup).
    TStationServices& services() { return m_services; }

    const TStationControls& controls() const { return m_controls; }
    TStationControls& controls() { return m_controls; }

private:
    double m_axisPositionW = 0;
    TCircleCoord m_circleLeft, m_circleRight, m_circleTop, m_circleBottom, m_circleCenter;
    TCirclePoint m_circleChecked = TCirclePoint::None;
    TGlyph* m_glyphAutoInc = nullptr;
    bool m_disableGlyphPropertiesChangeEvent = false;
    TXYTransform m_xytfSlant;
    double m_curvatureA = 0, m_curvatureB = 0, m_curvatureC = 0;
    TTreeNode* m_markingTreeNode = nullptr;
    // Called after each glyph of the walk has been marked (the preview's glyph boundaries).
    std::function<void(TTreeNode*)> m_afterGlyphMarked;
    // The last rehearsal and everything it was made from (see PreviewMarking).
    struct PreviewCache;
    std::shared_ptr<const PreviewCache> m_previewCache;
    TMarkingPreview rehearseMarking();
    std::unique_ptr<Inspector> m_inspector;
    std::optional<InspectionResult> m_lastInspection;
    QImage m_lastInspectionPicture;
    // The plan of the run under way, taken before the laser went on.
    std::optional<InspectionPlan> m_runPlan;
    // A failed inspection the operator has not yet been asked about before the holder is freed.
    bool m_inspectionQuestionPending = false;
    // Inspects the run that just ended (Engrave), when the window gives a picture.
    void inspectAfterRun();
    // The codes whose content follows the scanner take the scanned text.
    void takeScannedCodeIntoCodes(const QString& text);
    // "Inspection failed: ... Free the holder anyway?"; true when the holder may be freed.
    bool holderMayBeFreed();
    int m_markingStatusIndex = 0;
    QString m_photoDir;
    int m_pulseTrainCount = 10, m_pulseTrainRate = 100, m_pulseDuration = 50;
    TStationServices m_services;
    TLabelTree m_tree;
    std::unique_ptr<DocumentRichEdit> m_richEdit;
    TTemplateList& templateList() const;
    mutable std::unique_ptr<TTemplateList> m_templates;
    int m_templateIndex = 0;
    std::array<TEditText, static_cast<size_t>(TEditBox::Count)> m_edits;
    TStationControls m_controls;
    TMarkingProgress m_progress;
    // The estimate of the run under way, glyph by glyph (empty when it was not estimated).
    struct PlannedGlyphTime {
        const TTreeNode* node;
        std::int64_t startMs, endMs;
    };
    std::vector<PlannedGlyphTime> m_runGlyphTimes;
    std::int64_t m_runEstimateMs = 0;
    bool m_ringLightKeyDown = false; // R held for the ring-light chord
    // The label's history: Tree2XML of earlier and later steps, the step shown now, and the
    // label as last loaded or saved.
    std::vector<QString> m_undo, m_redo;
    QString m_labelStep;
    QString m_labelSaved;
    QString m_statusMessage;
    // Above zero while the station itself rebuilds the label (a template, an undo): the
    // editor's change signals then come from the rebuild, and its half-built states are no steps.
    int m_labelRebuilding = 0;
    bool restoreLabelStep(const QString& xml);
    // The label as loaded or saved: the step all later changes are measured against.
    void markLabelSaved();
    // True when the label may be replaced: unchanged since loaded or saved, or the operator
    // agreed to lose the changes.
    bool mayReplaceLabel();

    FileLogger& logger();
    void moveFocus(TFocusTarget target);
    void refreshPositionAndPulseCount();

    // Marking and positioning helpers (marking.cpp, focus.cpp).
public:
    // The "Set Focus" rule, evaluated on every position tick.
    void updateSetFocusEnabled();
    // Texts of the circle-centre tool: a point's label ("x , y" or "not set") and the centre boxes.
    QString circlePointText(TCirclePoint point) const;
    TCircleCoord* circleCoord(TCirclePoint point);
    const TCircleCoord* circleCoord(TCirclePoint point) const;
    QString circleCenterXText() const;
    QString circleCenterYText() const;

private:
    // The holder stands at the start position: "Go to Start" hidden, Reset shown.
    bool atStartPosition() const;
    // Glyph units to machine millimetres: scale girdle height, slant, marking reference.
    void buildLabelTransform(TXYTransform& XYTF) const;
    void alignCommand();
    void engraveCommand();
    // The machine's part of Engrave, from the laser going on to the table back at the marking
    // reference: what a run does and what the preview rehearses.
    void runMarkingSequence(TLaser& laser);
    // Which glyphs the next Engrave marks, as the operator answered: none, those not marked
    // yet, or all of them again. Asking changes nothing; the caller resets the glyphs.
    enum class TMarkScope { Nothing, Remaining, All };
    TMarkScope askMarkScope();
    void resetAllMarking();
    // MarkOutLines without clearing the abort flag: an Esc before the first glyph counts.
    void markOutLines();
    // "Marking stopped: <why>. <the laser's state>; the label is not complete.", once a run.
    void tellMachineStop(TLaser& laser);
    bool m_machineStopTold = false;
    // The label-format check before Engrave; true when the operator refused or was refused.
    bool labelFormatRefused();
    // The glyph and work-area checks; false with the operator told when the label is refused.
    bool labelMarkable();
    // The legibility question before Engrave; true when the operator declined ("No": nothing
    // moves). A label that passes asks nothing.
    bool legibilityRefused();
    // Set when CheckLabelBeforeMarking has had the format accepted for the next Engrave.
    bool m_formatAccepted = false;
    void updateCircleTool();
    bool focusIsCurved() const { return m_curvatureA != 0 || m_curvatureB != 0; }

    // Label editing, XML, templates and scanned codes (labeledit.cpp, labelxml.cpp,
    // stationtemplates.cpp, scannedcode.cpp).
public:
    // The "Marking status" choice of the character, logo and photo panels (0 not processed).
    void MarkingStatusChange(int index);
    // "Load Picture": the picture file into the selected photo; false (photo unchanged, the
    // operator told) when it cannot be used or no photo is selected.
    bool LoadPhotoFile(const QString& FileName);
    // The picture of a photo before one is loaded (the window's default picture).
    static QImage defaultPhotoPicture();
    // The logo list: names (no folder, no extension) of the ".lal" drawings in the working
    // folder's logo folder, letter case ignored for folder and extension, sorted.
    QStringList LoadLogoList() const;
    // "Save As Logo": the selected character's outline as an outline file; false when no
    // character is selected or the file could not be written (the glyph tells the operator).
    bool SaveAsLogo(const QString& FileName);
    // The label editor's font and style lists: the selection's font and style code (empty and
    // -1 when the selection mixes them), refreshed when the selection changes.
    void RichEditGlyphLabelSelectionChange();
    QString RichSelectionFont;
    int RichSelectionStyle = -1;
    // A font or style code (bit 0 italic, bit 1 bold) chosen for the editor: applied to the
    // selection (without one, to what is typed next), kept as the default, label rebuilt.
    void GlyphRichFontChange(const QString& font);
    void GlyphRichStyleChange(int styleCode);
    // Pulse tools of the roll-down panel: the spin boxes take a number (count 1..999, duration
    // 5..500 ms) and ignore other text; "Shoot" fires a train at the current rate or one pulse.
    void SpinEditPulseTrainCountChange(const QString& text);
    void SpinEditPulseDurationChange(const QString& text);
    void ButtonShootPulseTrainClick();
    void ButtonSinglePulseClick();
    // Mouse wheel over a jog panel: one tick on the axis ('X', 'Y', 'Z'), +1 wheel up; tick
    // level 1, 2 with Shift or Ctrl, 3 with both. A step is only queued while the axis has at
    // most ("WheelBuffer" + 1) steps still to go, and never while Engrave is down.
    void WheelJog(char axis, int direction, bool shift, bool ctrl);
    // "Exit": before homing ends the controller is reset and the hardware counted as absent;
    // the window closes afterwards.
    void BitBtnExitClick();
    // The program file written into the label XML's "app" attribute.
    static QString programPath();

private:
    double* fractionOf(TEditBox box);
    void stepGirdle(int direction);
    void stepGrid(int direction);
    TTreeNode* addTopLevel(const QString& caption);
    void selectAdded(TTreeNode* node);
    // The working folder's logo folder ("Logos", found whatever its letter case), with a separator.
    static QString logoFolder();
    QString logoFilePath(const QString& name) const;
    void makeLogoGlyph(TTreeNode* node, const QString& fileName, double height, double offset);
    TGlyphPhoto& makePhotoGlyph(TTreeNode* node, double height, double offset);
    void updateTaskButtons(TTreeNode* Node);
    static TPropertyPanel panelOf(const TGlyph* glyph);
    void applyTextRules();
    // Empties the label (the auto-increment reference goes with it) and resets the editor.
    void clearLabel();
    void refreshTemplateControls();
    void loadSelectedTemplate();
    std::optional<QString> askTemplateName();
    QString proposeTemplateName() const;
    // Empty when written, else why not (naming the file).
    QString saveTemplateSnapshot(const QString& pathWithoutExtension);
    // The template's file (or its snapshot) was written to the templates folder, or the operator
    // is told once why not.
    void reportTemplateSave(const QString& name, const QString& path, const QString& error);
    // Replaces the label by items already read and checked.
    bool buildTree(const std::vector<TLabelXmlItem>& items);
    void bindTemplate(int digit, bool permanent);
};

} // namespace lapido
