#pragma once
// The main window: the picture area on top, the bottom panel with the listing,
// the commentary, the parameter fields, the formula and option choices and the
// view buttons. Every control is a public member named as on the window, so
// that the handlers (spread over several files) and the tests reach it.
//
// Handlers may throw (file errors, conversion errors, floating-point faults):
// every signal connection runs its handler through RunHandler(), which shows
// the error text in the error box and lets the event loop go on.
#include <QMainWindow>
#include <QString>
#include <functional>
#include <string>

#include "core/dynamics/options.h"
#include "core/history/run_history.h"
#include "core/run/run.h"
#include "core/state/sim_state.h"
#include "core/view/frame_pacer.h"
#include "core/view/view_controls.h"
#include "ui/history/history_host.h"
#include "ui/mainform/form_widgets.h"
#include "ui/view/scene.h"

class QAction;
class QButtonGroup;
class QCheckBox;
class QCloseEvent;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;
class QTimer;
class QToolButton;

namespace qd {

class PictureCanvas;
class StringGrid;
class TAboutBox;
class TEditDlg;
class THistoryWindow;

// The windows the main window opens. main() creates them after the main
// window, in the designed order, and hands them over in one call; another
// window is one more member here.
struct MainFormWindows {
  TEditDlg* editor = nullptr;
  TAboutBox* about = nullptr;
  THistoryWindow* history = nullptr;  // "Run History"; none: the menu item does nothing
};

class TMainForm : public QMainWindow, public HistoryHost {
  Q_OBJECT
 public:
  // Builds the designed window, then runs the start-up (FormCreate).
  explicit TMainForm(SimState& state, QWidget* parent = nullptr);
  ~TMainForm() override;

  SimState& State() { return state_; }
  const SimState& State() const { return state_; }

  // The windows handed over by main(); handing over does not change their owner.
  void SetWindows(const MainFormWindows& windows) { windows_ = windows; }
  const MainFormWindows& Windows() const { return windows_; }
  // The handed-over editor and About box. A main window built on its own
  // (as in tests) makes its own at first use, so New and About always open one.
  TEditDlg& Editor();
  TAboutBox& About();

  // Designed client size and frame.
  static constexpr int kClientWidth = 596;
  static constexpr int kClientHeight = 377;
  static constexpr int kFrameWidth = 8;
  // The window's outer width: client width plus the designed frame (604).
  int OuterWidth() const;

  // ---- controls placed on the window (client area), bottom to top --------
  PictureCanvas* Canvas = nullptr;  // the picture area, below everything
  QFrame* Bevel = nullptr;
  QFrame* Pan = nullptr;
  QCheckBox* Blockade = nullptr;
  QRadioButton* Thermos3X3 = nullptr;
  QRadioButton* Thermos20X20 = nullptr;
  QRadioButton* ThermosNXN = nullptr;
  QRadioButton* Thermosout = nullptr;

  // ---- on Pan ----------------------------------------------------------------
  QFrame* Panel1 = nullptr;
  QLineEdit* FName = nullptr;
  QTabWidget* PageControl = nullptr;
  QWidget* TabSheet1 = nullptr;  // "Listing"
  QWidget* TabSheet2 = nullptr;  // "Commentary"
  QGroupBox* RadioGroup2 = nullptr;
  QRadioButton* Taoscope = nullptr;
  QRadioButton* Gravoscope = nullptr;

  // ---- on the page "Listing" -----------------------------------------------
  StringGrid* DaonsTable = nullptr;
  QGroupBox* Colours = nullptr;
  QRadioButton* Ak = nullptr;
  QLineEdit* Edit7 = nullptr;
  QLineEdit* Edit8 = nullptr;
  QRadioButton* Bk = nullptr;
  QRadioButton* Ck = nullptr;

  // ---- on the page "Commentary" --------------------------------------------
  QPlainTextEdit* Comment = nullptr;

  // ---- on Panel1, bottom to top ----------------------------------------------
  QToolButton* DaoTeta1 = nullptr;
  QToolButton* DaoStop = nullptr;
  QToolButton* DaoPsi = nullptr;
  QToolButton* DaoPsi1 = nullptr;
  QToolButton* DaoTeta = nullptr;
  QToolButton* DaoPhi1 = nullptr;
  QToolButton* DaoPhi = nullptr;
  QToolButton* DaoForvard = nullptr;
  QToolButton* DaoBack = nullptr;
  TShape* ShapeLime = nullptr;
  TShape* ShapeRed = nullptr;
  TClickLabel* LTime = nullptr;
  QLabel* Label1 = nullptr;
  QLabel* DtLabel = nullptr;
  QToolButton* Null00 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Label8 = nullptr;
  QLabel* Label10 = nullptr;
  QLabel* Label11 = nullptr;
  QSlider* TrackBar = nullptr;
  QPushButton* Go = nullptr;
  QCheckBox* ShowList = nullptr;
  QLineEdit* EditDT = nullptr;
  QGroupBox* RadioGroup1 = nullptr;
  QRadioButton* PolyExpon = nullptr;
  QRadioButton* Exponential = nullptr;
  QRadioButton* PolyExpSum = nullptr;
  QLineEdit* EditA1 = nullptr;
  QLineEdit* EditB1 = nullptr;
  QLineEdit* EditC1 = nullptr;
  QLineEdit* EditD1 = nullptr;
  QLineEdit* EditB2 = nullptr;
  QLineEdit* EditD2 = nullptr;
  QLineEdit* EditC2 = nullptr;
  QLineEdit* EditA2 = nullptr;
  QCheckBox* CheckBox1 = nullptr;
  QCheckBox* CheckBox2 = nullptr;
  QCheckBox* CheckBox3 = nullptr;
  QLineEdit* EditF2 = nullptr;
  QLineEdit* EditF1 = nullptr;
  QCheckBox* Cool = nullptr;
  QCheckBox* Warm = nullptr;
  QRadioButton* ExpoPolyExpSum = nullptr;
  QRadioButton* EPESminus = nullptr;

  // Exclusive groups: formulas (Panel1), sign mode (Pan), walls (window),
  // kind split (page "Listing").
  QButtonGroup* FormulaGroup = nullptr;
  QButtonGroup* SignGroup = nullptr;
  QButtonGroup* ThermosGroup = nullptr;
  QButtonGroup* KindGroup = nullptr;

  // ---- menus -----------------------------------------------------------------
  QMenuBar* MainMenu = nullptr;
  QMenu* File1 = nullptr;
  QAction* New1 = nullptr;
  QAction* Open1 = nullptr;
  QAction* OpenExample1 = nullptr;  // "Open Example...", added after Open
  QAction* Save1 = nullptr;
  QAction* Saveas1 = nullptr;
  QAction* N1 = nullptr;
  QAction* Exit1 = nullptr;
  QMenu* View1 = nullptr;
  QMenu* ImagesMenu = nullptr;  // the submenu "Show Images"
  QAction* Images = nullptr;    // its entry in "View" (enabled/disabled by the run)
  QAction* Daons1 = nullptr;
  QAction* Spiral1 = nullptr;
  QAction* ShowSpin = nullptr;
  QAction* ShowNumbersOfPoints = nullptr;
  QAction* MoveToCenter = nullptr;
  QAction* RunHistory1 = nullptr;  // "Run History", F9
  // "Simulation" (Alt+S): every formula, option and switch of the window,
  // the hidden ones included, as checkable items that set the controls
  // (mainform_simulation.cpp).
  QMenu* Simulation1 = nullptr;
  QMenu* Manager1 = nullptr;       // invisible; its items work through their shortcuts
  QAction* Left1 = nullptr;
  QAction* Right1 = nullptr;
  QAction* Up1 = nullptr;
  QAction* Down1 = nullptr;
  QMenu* Help0 = nullptr;
  QAction* Help1 = nullptr;
  QAction* RusHelp = nullptr;
  QAction* PolHelp = nullptr;
  QAction* About1 = nullptr;

  QTimer* Timer = nullptr;  // 300 ms, running from start-up

  // ---- the window's choices as the core reads them -----------------------------
  StepOptions CurrentStepOptions() const;
  SignMode CurrentSignMode() const;
  int SecondKindCount() const;  // Ak 30, Bk 15, Ck 10
  SceneStyle CurrentSceneStyle() const;

  // Go's two looks: the OK look with "Go", the Cancel look with "Stop".
  void SetGoOkLook();
  void SetGoCancelLook();

  // Runs a handler; an exception it throws is shown in the error box.
  void RunHandler(const std::function<void()>& handler) override;
  void ReportError(const std::exception& e);

  // ---- start-up and painting (mainform_startup.cpp) ----------------------------
  void FormCreate();
  // The window's own repaint: centre, then the figure, or the particles and
  // the listing (restoring CurrentName first).
  void FormPaint();
  // Loads the commentary beside CurrentName into Comment; a file that does
  // not open is skipped.
  void LoadCommentary();
  // The eleven parameter values into their fields, as number text.
  void ShowParameters();

  // ---- drawing wrappers: draw onto the canvas image, then show it ----------------
  void ClearPicture();
  void DrawParticles();
  void DrawFigure();
  void Redraw();
  void FillListing();

  // ---- view controls (mainform_view.cpp) ------------------------------------
  void DaoTetaClick();
  void DaoTeta1Click();
  void DaoPhiClick();
  void DaoPhi1Click();
  void DaoPsiClick();
  void DaoPsi1Click();
  void DaoStopClick();
  void DaoBackClick();
  void DaoForvardClick();
  void TrackBarChange(int position);
  // Positions are window client coordinates.
  void FormMouseDown(Qt::MouseButton button, QPoint pos);
  void FormMouseUp(Qt::MouseButton button, QPoint pos);
  // Where the last press of the right button, and of any other button, was.
  MouseAnchors Anchors;
  void TimerTimer();
  void ShowSpinClick();
  void ShowNumbersOfPointsClick();
  void MoveToCenterClick();
  void Left1Click();
  void Right1Click();
  void Up1Click();
  void Down1Click();
  void FormResize();
  void DaonsTableDblClick();
  void EditDTExit();

  // ---- run, files and structures (mainform_commands.cpp) -----------------------
  void GoClick();
  RunOutcome RunSteps();
  // After the run loop returned: what waited for its end catches up.
  void RunLoopLeft();
  void LTimeDblClick();
  void Open1Click();
  void Save1Click();
  void Saveas1Click();
  void Exit1Click();
  void SaveConfigWithDialog();
  void CommentChange();
  void CommentExit();
  void Spiral1Click();
  void Daons1Click();
  void Null00Click();
  // A configuration named on the command line, after start-up.
  void OpenFromCommandLine(const QString& path);
  // Open's steps after the user has chosen `path`: a configuration, or a run
  // archive (told by its first bytes), which OpenArchive opens.
  void OpenConfiguration(const QString& path);
  // Installs the last snapshot of a run archive with the choices it was run
  // with, and shows its snapshots in the Run History window, from which the
  // run goes on from any of them.
  void OpenArchive(const QString& path);
  // Sets the window's choices (the controls of the Simulation menu) to `o`.
  void SetStepOptions(const StepOptions& o);
  // Called after every step of a run, once its events have been processed
  // (tests and benchmarks stop a run from here).
  std::function<void()> AfterStep;
  // True while a run's loop is on the stack.
  bool RunActive() const { return runDepth_ > 0; }

  // ---- the run's history (mainform_history.cpp) ----------------------------------
  // The run of the window's state, with the snapshots of the runs on the
  // current state; a new state starts them anew.
  Run& CurrentRun() { return run_; }
  RunHistory& History() { return run_.History(); }
  const RunHistory& History() const { return run_.History(); }
  void RunHistory1Click();
  // Installs snapshot `index` as the current state and drops the snapshots
  // after it. Does nothing during a run.
  void ContinueFromSnapshot(std::size_t index) override;
  bool CanContinue() const override;
  QImage DrawSnapshot(const Snapshot& snap) const override;
  std::string ConfigurationName() const override { return state_.CurrentName; }

  // ---- unsaved work and the added File items (mainform_desktop.cpp) -------------
  // Remember the configuration as Save would write it, and the commentary,
  // as they are now: what was just opened or saved.
  void MarkStateSaved();
  void MarkCommentSaved();
  // Whether Save would now write something else than was last opened or
  // saved (never in image mode, where Save writes nothing), and whether the
  // commentary differs from what was last opened or saved.
  bool StateChangedSinceSaved();
  bool CommentChangedSinceSaved() const;
  // Before the window closes: with unsaved changes, asks "Save changes to
  // NAME?" and saves on Yes. True when the window may close.
  bool ConfirmClose();
  // File > Open Example...: a configuration from the examples that come
  // with the program.
  void OpenExample1Click();
  // The folder of the examples ("examples" beside the executable, then
  // ../share/quindelle/examples); empty when there is none.
  static QString ExamplesDir();
  // True for a file inside ExamplesDir(): Save never writes there.
  static bool IsExampleFile(const QString& path);

  // ---- editing (mainform_editing.cpp) -----------------------------------------
  void New1Click();

  // ---- help (mainform_help.cpp) -------------------------------------------------
  void Help1Click();
  void RusHelpClick();
  void PolHelpClick();
  void About1Click();

  // Counts the window's own repaints that ran FormPaint (for tests).
  int FormPaintCount() const { return formPaintCount_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void BuildWindow();
  void BuildPan();
  void BuildPanel1();
  void BuildMenus();
  // The items added to the designed menus and the usual second shortcuts.
  void BuildAddedItems();
  // Writes the memo beside the configuration, as the commentary's own save does.
  void WriteCommentText();
  // The Simulation menu; needs the controls its items stand for.
  void BuildSimulationMenu();
  // Keys move only among the controls the user can see (the hidden ones
  // are reached through the Simulation menu).
  void KeepKeysOnVisibleChoices();
  void ConnectHandlers();
  void LayoutClient();
  // One rotation button: its step, the redraw that shows it, the step cleared.
  void Rotate(RotationButton button);
  void RequestFormPaint();
  // Start-up steps 5 to 8; throws on a file failure.
  void LoadStartConfiguration();
  // The run's looks of Go, the lamps, Images and Null00.
  void SetRunningLook();
  void SetIdleLook();
  void ShowStepCountCaption();
  // Closes the window once no run is left on the stack, when a close was
  // asked for during the run.
  void FinishPendingClose();

  SimState& state_;
  MainFormWindows windows_;
  Run run_{state_};
  // What copies to this window's screen cost, learnt over its runs.
  FramePacer frames_{0};
  bool exposeFilterInstalled_ = false;
  bool formPaintPending_ = false;
  int formPaintCount_ = 0;
  int runDepth_ = 0;
  bool closePending_ = false;
  ConfigRecordBuffer savedRecord_{};
  QString savedComment_;
};

}  // namespace qd
