#include "ui/mainform/mainform.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSlider>
#include <QStyle>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QWindow>

#include "ui/common/colours.h"
#include "ui/common/designed_look.h"
#include "ui/common/dialogs.h"
#include "ui/common/fonts.h"
#include "ui/editing/key_filter.h"
#include "ui/history/history_window.h"
#include "ui/mainform/form_widgets.h"
#include "ui/view/listing.h"
#include "ui/view/picture_canvas.h"
#include "ui/view/string_grid.h"

namespace qd {
namespace {

void SetTextColour(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(QPalette::WindowText, c);
  p.setColor(QPalette::Text, c);
  p.setColor(QPalette::ButtonText, c);
  w->setPalette(p);
}

void SetFieldBackground(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(QPalette::Base, c);
  w->setPalette(p);
}

void SetBackground(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(QPalette::Window, c);
  p.setColor(QPalette::Button, c);
  w->setPalette(p);
  w->setAutoFillBackground(true);
}

template <class W>
W* Place(W* w, const char* name, int left, int top, int width, int height) {
  w->setObjectName(QString::fromLatin1(name));
  w->setGeometry(left, top, width, height);
  // Controls designed at the same place must hide the ones beneath them
  // completely, so each paints its whole rectangle.
  w->setAutoFillBackground(true);
  return w;
}

QRadioButton* Radio(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h) {
  return Place(new QRadioButton(caption, parent), name, l, t, w, h);
}

QCheckBox* Check(QWidget* parent, const char* name, const QString& caption, int l, int t, int w, int h) {
  return Place(new QCheckBox(caption, parent), name, l, t, w, h);
}

QLineEdit* Field(QWidget* parent, const char* name, const QString& text, int l, int t, int w, int h) {
  auto* e = Place(new QLineEdit(text, parent), name, l, t, w, h);
  e->setCursorPosition(0);
  return e;
}

QLabel* Label(QLabel* label, const char* name, int left, int top) {
  label->setObjectName(QString::fromLatin1(name));
  label->setAutoFillBackground(true);
  label->adjustSize();
  label->move(left, top);
  return label;
}

// The arrow captions of the speed buttons, drawn from the symbol font on the
// old program's screens; here the matching Unicode arrows.
QString ArrowFor(int symbolCode) {
  switch (symbolCode) {
    case 0xEC:
      return QString(QChar(0x2B08));  // up-right, black
    case 0xED:
      return QString(QChar(0x2B0B));  // down-left, black
    case 0xEF:
      return QString(QChar(0x21E6));  // left
    case 0xF0:
      return QString(QChar(0x21E8));  // right
    case 0xF1:
      return QString(QChar(0x21E7));  // up
    case 0xF2:
      return QString(QChar(0x21E9));  // down
    case 0xF6:
      return QString(QChar(0x2B00));  // up-right
    case 0xF7:
      return QString(QChar(0x2B03));  // down-left
    default:
      return QString();
  }
}

QToolButton* SpeedButton(QWidget* parent, const char* name, int symbolCode, int pixels, int l, int t, int w,
                         int h) {
  auto* b = Place(new QToolButton(parent), name, l, t, w, h);
  b->setText(ArrowFor(symbolCode));
  b->setFont(WindowFont(pixels));
  // Speed buttons never take the focus, so pressing one does not end the
  // editing of a field.
  b->setFocusPolicy(Qt::NoFocus);
  return b;
}

}  // namespace

TMainForm::TMainForm(SimState& state, QWidget* parent) : QMainWindow(parent), state_(state) {
  // The other cores work on the next step while the window draws.
  run_.SetPrepareAhead(true);
  BuildWindow();
  ConnectHandlers();
  RunHandler([this] { FormCreate(); });
  Timer->start();
}

TMainForm::~TMainForm() {
  // A history window of ours observes the run, which goes before our
  // children do.
  for (THistoryWindow* w : findChildren<THistoryWindow*>(Qt::FindDirectChildrenOnly)) delete w;
  // No exit handler may run while the fields are taken down.
  for (QLineEdit* e : findChildren<QLineEdit*>()) e->removeEventFilter(this);
  Comment->removeEventFilter(this);
  if (QWidget* client = centralWidget()) client->removeEventFilter(this);
  if (exposeFilterInstalled_ && windowHandle()) windowHandle()->removeEventFilter(this);
  Timer->stop();
}

int TMainForm::OuterWidth() const { return width() + kFrameWidth; }

void TMainForm::BuildWindow() {
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Quindelle"));
  setFont(WindowFont(11));

  BuildMenus();

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  setCentralWidget(client);
  // The main window lays its client area out only when shown; start-up
  // already needs the designed geometry.
  client->resize(kClientWidth, kClientHeight);
  client->installEventFilter(this);

  // The picture area lies below every other control of the window.
  Canvas = new PictureCanvas(client);
  Canvas->setObjectName(QStringLiteral("Canvas"));
  Canvas->setGeometry(0, 0, kClientWidth, 176);
  // Our own blits must not repaint the window behind the picture.
  Canvas->setAttribute(Qt::WA_OpaquePaintEvent, true);

  Bevel = new QFrame(client);
  Bevel->setObjectName(QStringLiteral("Bevel"));
  Bevel->setGeometry(0, 0, 4, 4);
  Bevel->setFrameStyle(QFrame::Box | QFrame::Sunken);
  Bevel->hide();

  Pan = Place(new QFrame(client), "Pan", 0, 176, kClientWidth, 201);
  Pan->setFrameStyle(QFrame::Panel | QFrame::Raised);
  BuildPan();

  Blockade = Check(client, "Blockade", QStringLiteral("* Blockade  X, Y, Z in positions - 1 -:- 4 *"), 0, 0,
                   217, 17);
  Thermos3X3 = Radio(client, "Thermos3X3", QStringLiteral("Thermos3X3"), 0, 16, 57, 17);
  Thermos20X20 = Radio(client, "Thermos20X20", QStringLiteral("Thermos20X20"), 0, 16, 57, 17);
  ThermosNXN = Radio(client, "ThermosNXN", QStringLiteral("ThermosNXN"), 0, 16, 57, 17);
  Thermosout = Radio(client, "Thermosout", QStringLiteral("False"), 0, 16, 57, 17);
  Thermosout->setChecked(true);
  ThermosGroup = new QButtonGroup(this);
  ThermosGroup->setObjectName(QStringLiteral("ThermosGroup"));
  for (auto* b : {Thermos3X3, Thermos20X20, ThermosNXN, Thermosout}) ThermosGroup->addButton(b);
  BuildSimulationMenu();
  KeepKeysOnVisibleChoices();

  Timer = new QTimer(this);
  Timer->setObjectName(QStringLiteral("Timer"));
  Timer->setInterval(300);

  // Menu bar plus the designed client area; placed at the screen's centre.
  const int menuHeight = MainMenu->sizeHint().height();
  resize(kClientWidth, menuHeight + kClientHeight);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.x() + (area.width() - OuterWidth()) / 2, area.y() + (area.height() - height()) / 2);
  }
  LayoutClient();
  // Gravoscope lies over the tab row from x = 120 of Pan on, and Colours
  // starts left of its page: the designed measures keep their captions whole.
  UseDesignedLook(this);
}

void TMainForm::BuildPan() {
  Panel1 = Place(new QFrame(Pan), "Panel1", 362, 1, 231, 200);
  Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);
  BuildPanel1();

  FName = Field(Pan, "FName", QStringLiteral("File Name"), 0, 176, 353, 21);
  SetFieldBackground(FName, kSilver);
  SetTextColour(FName, kBlue);
  FName->setFont(WindowFont(11, true));

  PageControl = Place(new QTabWidget(Pan), "PageControl", 2, 8, 359, 169);
  TabSheet1 = new QWidget;
  TabSheet1->setObjectName(QStringLiteral("TabSheet1"));
  TabSheet2 = new QWidget;
  TabSheet2->setObjectName(QStringLiteral("TabSheet2"));
  PageControl->addTab(TabSheet1, QStringLiteral("Listing"));
  PageControl->addTab(TabSheet2, QStringLiteral("Commentary"));
  PageControl->setCurrentWidget(TabSheet1);

  DaonsTable = Place(new StringGrid(4, 61, TabSheet1), "DaonsTable", 0, 6, 349, 99);
  SetUpListingGrid(*DaonsTable);
  DaonsTable->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Colours = Place(new QGroupBox(QStringLiteral("Colours"), TabSheet1), "Colours", -4, 104, 353, 41);
  Ak = Radio(TabSheet1, "Ak", QString(), 8, 120, 17, 17);
  Ak->setChecked(true);
  Edit7 = Field(TabSheet1, "Edit7", QStringLiteral("1  -:- 30"), 24, 120, 49, 21);
  SetFieldBackground(Edit7, kLime);
  Edit8 = Field(TabSheet1, "Edit8", QStringLiteral("31 -:- 60"), 72, 120, 49, 21);
  SetFieldBackground(Edit8, kYellow);
  Bk = Radio(TabSheet1, "Bk", QStringLiteral("Bk"), -103, 120, 104, 17);
  Ck = Radio(TabSheet1, "Ck", QStringLiteral("Ck"), -32, 120, 33, 17);
  // Their one pixel column inside the page must not change the kind split
  // by a stray click; the keyboard still reaches them from Ak.
  for (auto* b : {Bk, Ck}) b->setAttribute(Qt::WA_TransparentForMouseEvents);
  KindGroup = new QButtonGroup(this);
  KindGroup->setObjectName(QStringLiteral("KindGroup"));
  for (auto* b : {Ak, Bk, Ck}) KindGroup->addButton(b);

  Comment = Place(new QPlainTextEdit(TabSheet2), "Comment", 0, 0, 341, 123);
  Comment->setPlainText(QStringLiteral("No Comment"));

  RadioGroup2 = Place(new QGroupBox(Pan), "RadioGroup2", 120, 0, 225, 17);
  Taoscope = Radio(Pan, "Taoscope", QStringLiteral("Taoscope"), 120, 0, 105, 17);
  Gravoscope = Radio(Pan, "Gravoscope", QStringLiteral("Gravoscope"), 120, 0, 225, 25);
  for (auto* b : {Taoscope, Gravoscope}) {
    b->setFont(SerifCaptionFont(19, true));
    SetTextColour(b, kBlue);
  }
  Gravoscope->setChecked(true);
  SignGroup = new QButtonGroup(this);
  SignGroup->setObjectName(QStringLiteral("SignGroup"));
  SignGroup->addButton(Taoscope);
  SignGroup->addButton(Gravoscope);
}

void TMainForm::BuildPanel1() {
  QWidget* p = Panel1;
  DaoTeta1 = SpeedButton(p, "DaoTeta1", 0xF2, 19, 44, 179, 23, 22);
  DaoStop = SpeedButton(p, "DaoStop", 0, 13, 44, 155, 23, 22);
  DaoPsi = SpeedButton(p, "DaoPsi", 0xF6, 19, 68, 131, 23, 22);
  DaoPsi1 = SpeedButton(p, "DaoPsi1", 0xF7, 19, 68, 179, 23, 22);
  DaoTeta = SpeedButton(p, "DaoTeta", 0xF1, 19, 44, 131, 23, 22);
  DaoPhi1 = SpeedButton(p, "DaoPhi1", 0xF0, 16, 68, 155, 23, 22);
  DaoPhi = SpeedButton(p, "DaoPhi", 0xEF, 16, 20, 155, 23, 22);
  DaoForvard = SpeedButton(p, "DaoForvard", 0xED, 19, 4, 179, 37, 22);
  DaoBack = SpeedButton(p, "DaoBack", 0xEC, 19, 4, 131, 37, 22);

  ShapeLime = Place(new TShape(p), "ShapeLime", 94, 153, 19, 21);
  ShapeLime->setAutoFillBackground(false);
  ShapeLime->setBrushColor(kLime);
  ShapeRed = Place(new TShape(p), "ShapeRed", 110, 129, 19, 21);
  ShapeRed->setAutoFillBackground(false);
  ShapeRed->setBrushColor(kMaroon);

  LTime = new TClickLabel(QStringLiteral("0"), p);
  LTime->setFont(WindowFont(13, true));
  Label(LTime, "LTime", 40, 96);
  Label1 = new QLabel(QStringLiteral("Time:"), p);
  Label1->setFont(WindowFont(13, true));
  SetTextColour(Label1, kNavy);
  Label(Label1, "Label1", 0, 96);
  DtLabel = Label(new QLabel(QStringLiteral("dt="), p), "DtLabel", 0, 116);

  Null00 = Place(new QToolButton(p), "Null00", 72, 112, 41, 15);
  Null00->setText(QStringLiteral("0"));
  Null00->setToolTip(QStringLiteral("Make null of velocity"));
  Null00->setFont(WindowFont(16, true));
  Null00->setFocusPolicy(Qt::NoFocus);

  Label2 = Label(new QLabel(QStringLiteral("A1"), p), "Label2", 120, 8);
  Label3 = Label(new QLabel(QStringLiteral("B1"), p), "Label3", 120, 32);
  Label4 = Label(new QLabel(QStringLiteral("C1"), p), "Label4", 120, 56);
  Label7 = Label(new QLabel(QStringLiteral("B2"), p), "Label7", 176, 32);
  Label8 = Label(new QLabel(QStringLiteral("D2"), p), "Label8", 176, 80);
  Label10 = Label(new QLabel(QStringLiteral("C2"), p), "Label10", 176, 56);
  Label11 = Label(new QLabel(QStringLiteral("A2"), p), "Label11", 176, 8);

  TrackBar = Place(new QSlider(Qt::Horizontal, p), "TrackBar", 144, 120, 81, 33);
  TrackBar->setRange(0, 10);
  TrackBar->setValue(5);
  TrackBar->setPageStep(2);
  TrackBar->setTickPosition(QSlider::TicksBelow);
  TrackBar->setTickInterval(1);
  TrackBar->setToolTip(QStringLiteral("Amplitude"));

  Go = Place(new QPushButton(p), "Go", 91, 176, 54, 25);
  SetGoOkLook();
  Go->setEnabled(false);

  ShowList = Check(p, "ShowList", QStringLiteral("Show Listing"), 128, 152, 97, 17);
  ShowList->setFont(WindowFont(11, true));
  EditDT = Field(p, "EditDT", QStringLiteral("0"), 16, 112, 57, 21);

  RadioGroup1 = Place(new QGroupBox(QStringLiteral("Formula"), p), "RadioGroup1", 0, 0, 105, 89);
  PolyExpon = Radio(p, "PolyExpon", QStringLiteral("PE"), 32, 32, 41, 17);
  Exponential = Radio(p, "Exponential", QStringLiteral("E"), 32, 16, 41, 17);
  Exponential->setChecked(true);
  PolyExpSum = Radio(p, "PolyExpSum", QStringLiteral("PES"), 32, 32, 41, 17);
  SetTextColour(PolyExpSum, kBlue);

  EditA1 = Field(p, "EditA1", QStringLiteral("1"), 136, 0, 41, 21);
  EditB1 = Field(p, "EditB1", QStringLiteral("1"), 136, 24, 41, 21);
  EditC1 = Field(p, "EditC1", QStringLiteral("2"), 136, 48, 41, 21);
  EditD1 = Field(p, "EditD1", QStringLiteral("3"), 136, 48, 41, 21);
  EditB2 = Field(p, "EditB2", QStringLiteral("1"), 192, 24, 41, 21);
  EditD2 = Field(p, "EditD2", QStringLiteral("3"), 192, 48, 41, 21);
  EditC2 = Field(p, "EditC2", QStringLiteral("2"), 192, 48, 41, 21);
  EditA2 = Field(p, "EditA2", QStringLiteral("1"), 192, 0, 41, 21);

  CheckBox1 = Check(p, "CheckBox1", QStringLiteral("(1+6)'"), 32, 48, 49, 17);
  CheckBox2 = Check(p, "CheckBox2", QStringLiteral("(2)'"), 32, 49, 49, 16);
  CheckBox3 = Check(p, "CheckBox3", QStringLiteral("False"), 32, 48, 49, 17);
  for (auto* c : {CheckBox1, CheckBox2, CheckBox3}) SetTextColour(c, kBlue);

  EditF2 = Field(p, "EditF2", QStringLiteral("False"), 192, 48, 41, 21);
  EditF1 = Field(p, "EditF1", QStringLiteral("False"), 136, 48, 41, 21);
  for (auto* e : {EditA1, EditB1, EditC1, EditD1, EditF1}) SetFieldBackground(e, kLime);
  for (auto* e : {EditA2, EditB2, EditC2, EditD2, EditF2}) SetFieldBackground(e, kYellow);

  Cool = Check(p, "Cool", QStringLiteral("Cooler"), 152, 184, 65, 17);
  Warm = Check(p, "Warm", QStringLiteral("Heater"), 152, 168, 65, 17);
  for (auto* c : {Cool, Warm}) {
    c->setFont(WindowFont(11, true));
    SetTextColour(c, Qt::white);
  }
  SetBackground(Cool, Qt::black);
  SetBackground(Warm, kRed);

  ExpoPolyExpSum = Radio(p, "ExpoPolyExpSum", QStringLiteral("DUDI"), 32, 32, 49, 17);
  EPESminus = Radio(p, "EPESminus", QStringLiteral("False"), 32, 32, 49, 17);

  FormulaGroup = new QButtonGroup(this);
  FormulaGroup->setObjectName(QStringLiteral("FormulaGroup"));
  for (auto* b : {PolyExpon, Exponential, PolyExpSum, ExpoPolyExpSum, EPESminus}) FormulaGroup->addButton(b);
}

void TMainForm::BuildMenus() {
  MainMenu = menuBar();
  MainMenu->setObjectName(QStringLiteral("MainMenu"));
  auto item = [this](QMenu* menu, const char* name, const QString& caption, const QKeySequence& key = {}) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(QString::fromLatin1(name));
    if (!key.isEmpty()) a->setShortcut(key);
    return a;
  };
  auto menu = [](QMenu* m, const char* name) {
    m->setObjectName(QString::fromLatin1(name));
    m->menuAction()->setObjectName(QString::fromLatin1(name));
    return m;
  };

  File1 = menu(MainMenu->addMenu(QStringLiteral("File")), "File1");
  New1 = item(File1, "New1", QStringLiteral("New"), QKeySequence(Qt::Key_F2));
  Open1 = item(File1, "Open1", QStringLiteral("Open"), QKeySequence(Qt::Key_F3));
  Save1 = item(File1, "Save1", QStringLiteral("Save"), QKeySequence(Qt::CTRL | Qt::Key_S));
  Saveas1 = item(File1, "Saveas1", QStringLiteral("Save As ..."));
  N1 = File1->addSeparator();
  N1->setObjectName(QStringLiteral("N1"));
  Exit1 = item(File1, "Exit1", QStringLiteral("Exit"), QKeySequence(Qt::ALT | Qt::Key_X));

  View1 = menu(MainMenu->addMenu(QStringLiteral("View")), "View1");
  ImagesMenu = View1->addMenu(QStringLiteral("Show Images"));
  ImagesMenu->setObjectName(QStringLiteral("ImagesMenu"));
  Images = ImagesMenu->menuAction();
  Images->setObjectName(QStringLiteral("Images"));
  Daons1 = item(ImagesMenu, "Daons1", QStringLiteral("Taons"), QKeySequence(Qt::Key_F5));
  Spiral1 = item(ImagesMenu, "Spiral1", QStringLiteral("Spiral"));
  ShowSpin = item(View1, "ShowSpin", QStringLiteral("ShowSpin"), QKeySequence(Qt::Key_F6));
  ShowSpin->setCheckable(true);
  ShowNumbersOfPoints =
      item(View1, "ShowNumbersOfPoints", QStringLiteral("Show Numbers of Points"), QKeySequence(Qt::Key_F7));
  ShowNumbersOfPoints->setCheckable(true);
  MoveToCenter = item(View1, "MoveToCenter", QStringLiteral("Move to center"), QKeySequence(Qt::Key_F8));
  RunHistory1 = item(View1, "RunHistory1", QStringLiteral("Run History"), QKeySequence(Qt::Key_F9));

  // The Manager menu is never shown; its items live on the window so that
  // their shortcuts work.
  Manager1 = menu(MainMenu->addMenu(QStringLiteral("Manager")), "Manager1");
  Left1 = item(Manager1, "Left1", QStringLiteral("Left"), QKeySequence(Qt::CTRL | Qt::Key_Left));
  Right1 = item(Manager1, "Right1", QStringLiteral("Right"), QKeySequence(Qt::CTRL | Qt::Key_Right));
  Up1 = item(Manager1, "Up1", QStringLiteral("Up"), QKeySequence(Qt::CTRL | Qt::Key_Up));
  Down1 = item(Manager1, "Down1", QStringLiteral("Down"), QKeySequence(Qt::CTRL | Qt::Key_Down));
  Manager1->menuAction()->setVisible(false);
  addActions({Left1, Right1, Up1, Down1});

  Help0 = menu(MainMenu->addMenu(QStringLiteral("Help")), "Help0");
  Help1 = item(Help0, "Help1", QStringLiteral("English Help"), QKeySequence(Qt::Key_F1));
  RusHelp = item(Help0, "RusHelp", QStringLiteral("Russian Help"), QKeySequence(Qt::CTRL | Qt::Key_F1));
  PolHelp = item(Help0, "PolHelp", QStringLiteral("Poland Help"), QKeySequence(Qt::SHIFT | Qt::Key_F1));
  About1 = item(Help0, "About1", QStringLiteral("About"));
  BuildAddedItems();
}

void TMainForm::ConnectHandlers() {
  // Every handler runs guarded: an error it raises ends it and is shown.
  auto on = [this](void (TMainForm::*handler)()) {
    return [this, handler] { RunHandler([this, handler] { (this->*handler)(); }); };
  };
  connect(DaoTeta, &QToolButton::clicked, this, on(&TMainForm::DaoTetaClick));
  connect(DaoTeta1, &QToolButton::clicked, this, on(&TMainForm::DaoTeta1Click));
  connect(DaoPhi, &QToolButton::clicked, this, on(&TMainForm::DaoPhiClick));
  connect(DaoPhi1, &QToolButton::clicked, this, on(&TMainForm::DaoPhi1Click));
  connect(DaoPsi, &QToolButton::clicked, this, on(&TMainForm::DaoPsiClick));
  connect(DaoPsi1, &QToolButton::clicked, this, on(&TMainForm::DaoPsi1Click));
  connect(DaoStop, &QToolButton::clicked, this, on(&TMainForm::DaoStopClick));
  connect(DaoBack, &QToolButton::clicked, this, on(&TMainForm::DaoBackClick));
  connect(DaoForvard, &QToolButton::clicked, this, on(&TMainForm::DaoForvardClick));
  connect(TrackBar, &QSlider::valueChanged, this,
          [this](int position) { RunHandler([this, position] { TrackBarChange(position); }); });
  connect(Canvas, &PictureCanvas::mousePressed, this, [this](Qt::MouseButton b, QPoint pos) {
    RunHandler([this, b, pos] { FormMouseDown(b, Canvas->mapTo(centralWidget(), pos)); });
  });
  connect(Canvas, &PictureCanvas::mouseReleased, this, [this](Qt::MouseButton b, QPoint pos) {
    RunHandler([this, b, pos] { FormMouseUp(b, Canvas->mapTo(centralWidget(), pos)); });
  });
  connect(Timer, &QTimer::timeout, this, on(&TMainForm::TimerTimer));
  connect(DaonsTable, &StringGrid::doubleClicked, this, on(&TMainForm::DaonsTableDblClick));

  connect(Go, &QPushButton::clicked, this, on(&TMainForm::GoClick));
  connect(LTime, &TClickLabel::doubleClicked, this, on(&TMainForm::LTimeDblClick));
  connect(Null00, &QToolButton::clicked, this, on(&TMainForm::Null00Click));
  connect(Comment, &QPlainTextEdit::textChanged, this, on(&TMainForm::CommentChange));

  connect(New1, &QAction::triggered, this, on(&TMainForm::New1Click));
  connect(Open1, &QAction::triggered, this, on(&TMainForm::Open1Click));
  connect(Save1, &QAction::triggered, this, on(&TMainForm::Save1Click));
  connect(Saveas1, &QAction::triggered, this, on(&TMainForm::Saveas1Click));
  connect(Exit1, &QAction::triggered, this, on(&TMainForm::Exit1Click));
  connect(Daons1, &QAction::triggered, this, on(&TMainForm::Daons1Click));
  connect(Spiral1, &QAction::triggered, this, on(&TMainForm::Spiral1Click));
  connect(ShowSpin, &QAction::triggered, this, on(&TMainForm::ShowSpinClick));
  connect(ShowNumbersOfPoints, &QAction::triggered, this, on(&TMainForm::ShowNumbersOfPointsClick));
  connect(MoveToCenter, &QAction::triggered, this, on(&TMainForm::MoveToCenterClick));
  connect(RunHistory1, &QAction::triggered, this, on(&TMainForm::RunHistory1Click));
  connect(Left1, &QAction::triggered, this, on(&TMainForm::Left1Click));
  connect(Right1, &QAction::triggered, this, on(&TMainForm::Right1Click));
  connect(Up1, &QAction::triggered, this, on(&TMainForm::Up1Click));
  connect(Down1, &QAction::triggered, this, on(&TMainForm::Down1Click));
  connect(Help1, &QAction::triggered, this, on(&TMainForm::Help1Click));
  connect(RusHelp, &QAction::triggered, this, on(&TMainForm::RusHelpClick));
  connect(PolHelp, &QAction::triggered, this, on(&TMainForm::PolHelpClick));
  connect(About1, &QAction::triggered, this, on(&TMainForm::About1Click));

  // Leaving a field: EditDT is read back, the memo may offer to save. The
  // text fields also must not keep the window's Ctrl+arrow shortcuts.
  for (QLineEdit* e : findChildren<QLineEdit*>()) e->installEventFilter(this);
  Comment->installEventFilter(this);
  for (QLineEdit* e : {EditDT, EditA1, EditB1, EditC1, EditD1}) InstallNumericKeyFilter(e);
}

void TMainForm::RunHandler(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ReportError(e);
  }
}

void TMainForm::ReportError(const std::exception& e) {
  AppDialogs().Error(this, QString::fromStdString(e.what()));
}

}  // namespace qd
